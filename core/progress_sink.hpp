// The one way from a conversion to whoever shows its progress.
#pragma once

#include <string>

namespace vornakite {

// Both calls may come from any thread; an implementation must not block and
// must deliver in call order. Each line is a copy owned by the receiver.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void postLine(std::wstring text) = 0;
    virtual void postBatchDone(int successCount) = 0;
};

}  // namespace vornakite
