#include "platform/ui/Animation.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/MainLoop.h"
#include "platform/NoDestructor.h"
#include "platform/ui/View.h"

namespace platform {

namespace animation {

namespace {

constexpr std::size_t kProperties = static_cast<std::size_t>(Property::kCount);

struct Record {
    std::uint64_t id = 0;
    std::set<std::pair<const View*, Property>> properties;
    bool interrupted = false;
    bool done = false;
    std::function<void(bool)> completion;
    std::shared_ptr<TimerHandle> timer;
};

struct Registry {
    std::uint64_t nextId = 0;
    std::map<std::uint64_t, std::shared_ptr<Record>> pending;
    std::map<const View*, std::array<std::uint64_t, kProperties>> owners;
    std::vector<std::shared_ptr<Record>> open;  // blocks whose changes are running
};

Registry& registry() {
    static NoDestructor<Registry> r;
    return *r;
}

void finish(const std::shared_ptr<Record>& record, bool finished) {
    if (record->done) {
        return;
    }
    record->done = true;
    if (record->timer) {
        record->timer->cancel();
    }
    auto& r = registry();
    r.pending.erase(record->id);
    for (const auto& [view, property] : record->properties) {
        auto it = r.owners.find(view);
        if (it != r.owners.end() && it->second[static_cast<std::size_t>(property)] == record->id) {
            it->second[static_cast<std::size_t>(property)] = 0;
        }
    }
    if (record->completion) {
        auto completion = std::move(record->completion);
        completion(finished);
    }
}

void finishLater(const std::shared_ptr<Record>& record, bool finished) {
    if (record->timer) {
        record->timer->cancel();
    }
    MainLoop::main().post([record, finished] { finish(record, finished); });
}

}  // namespace

void noteChange(const View* view, Property property) {
    auto& r = registry();
    if (r.open.empty()) {
        return;
    }
    const auto& current = r.open.back();
    auto& owner = r.owners[view][static_cast<std::size_t>(property)];
    if (owner != 0 && owner != current->id) {
        if (auto it = r.pending.find(owner); it != r.pending.end()) {
            auto previous = it->second;
            previous->properties.erase({view, property});
            previous->interrupted = true;
            if (previous->properties.empty()) {
                // Nothing of it is left running: it ends now, not finished.
                r.pending.erase(it);
                finishLater(previous, false);
            }
        }
    }
    owner = current->id;
    current->properties.insert({view, property});
}

void forget(const View* view) {
    auto& r = registry();
    r.owners.erase(view);
    for (auto& [id, record] : r.pending) {
        for (std::size_t p = 0; p < kProperties; ++p) {
            record->properties.erase({view, static_cast<Property>(p)});
        }
    }
    for (auto& record : r.open) {
        for (std::size_t p = 0; p < kProperties; ++p) {
            record->properties.erase({view, static_cast<Property>(p)});
        }
    }
}

bool inAnimationBlock() {
    return !registry().open.empty();
}

std::size_t pendingCount() {
    return registry().pending.size();
}

}  // namespace animation

void View::animate(double duration, const std::function<void()>& changes,
                   std::function<void(bool finished)> completion, double delay) {
    using namespace animation;
    auto& r = registry();
    auto record = std::make_shared<Record>();
    record->id = ++r.nextId;
    record->completion = std::move(completion);
    r.open.push_back(record);
    try {
        if (changes) {
            changes();
        }
    } catch (...) {
        r.open.pop_back();
        throw;
    }
    r.open.pop_back();
    r.pending.emplace(record->id, record);
    if (record->properties.empty()) {
        finishLater(record, true);
        return;
    }
    double total = (delay > 0 ? delay : 0) + (duration > 0 ? duration : 0);
    std::weak_ptr<Record> weak = record;
    record->timer = MainLoop::main().after(total, [weak] {
        if (auto rec = weak.lock()) {
            finish(rec, !rec->interrupted);
        }
    });
}

}  // namespace platform
