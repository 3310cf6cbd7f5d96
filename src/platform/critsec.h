// Named critical sections: one process-wide mutex per name, created on first use.
#pragma once

// Enter the section of that name; blocks while another thread holds it. Not recursive.
void critsecEnter(const char* name);
void critsecLeave(const char* name);

// Holds a named section for the lifetime of a scope.
class CritSecGuard {
  public:
    explicit CritSecGuard(const char* name) : name_(name) { critsecEnter(name_); }
    ~CritSecGuard() { critsecLeave(name_); }
    CritSecGuard(const CritSecGuard&) = delete;
    CritSecGuard& operator=(const CritSecGuard&) = delete;

  private:
    const char* name_;
};
