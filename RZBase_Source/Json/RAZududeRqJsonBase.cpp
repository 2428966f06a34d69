#include "RZBase_Source/Json/RAZududeRqJsonBase.h"

void RAZududeRqJsonBase::addErrorWithCode(unsigned code, std::string description) {
    platform::Error error(kRAZududeJsonErrorDomain, static_cast<long>(code),
                          platform::Map{{platform::kLocalizedDescriptionKey,
                                         platform::Value(std::move(description))}});
    if (!errorTrace_.empty()) {
        error.setUnderlyingError(errorTrace_.back());
    }
    errorTrace_.push_back(std::move(error));
}
