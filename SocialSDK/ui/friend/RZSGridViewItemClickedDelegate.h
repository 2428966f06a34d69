// Told which item a picker chose: the friend picker hands the editor "@" and the friend's link
// name this way. Main thread only.
#pragma once

#include <string>

class RZSGridViewItemClickedDelegate {
  public:
    virtual ~RZSGridViewItemClickedDelegate() = default;
    virtual void itemClicked(const std::string& text) = 0;
};
