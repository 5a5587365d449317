#pragma once
// Sets an environment variable for one scope (unsets it for a null value),
// and the C library's time zone with it.
#include <QByteArray>
#include <cstdlib>
#include <ctime>

class EnvScope {
 public:
  EnvScope(const char* name, const char* value) : name_(name), had_(std::getenv(name) != nullptr) {
    if (had_) saved_ = std::getenv(name);
    if (value) setenv(name, value, 1);
    else unsetenv(name);
    tzset();
  }
  ~EnvScope() {
    if (had_) setenv(name_, saved_.constData(), 1);
    else unsetenv(name_);
    tzset();
  }
  EnvScope(const EnvScope&) = delete;
  EnvScope& operator=(const EnvScope&) = delete;

 private:
  const char* name_;
  bool had_;
  QByteArray saved_;
};
