#pragma once

#include <optional>
#include <string>

namespace velnoria::testing {

// Sets (or, with nullopt, removes) an environment variable and restores the old value on exit.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace velnoria::testing
