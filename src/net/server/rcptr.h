#pragma once

// rcptr: a non-atomic, non-polymorphic reference-counted pointer.
// mp_object is the shared object, mp_count a separately allocated plain int holding
// the number of rcptr sharing it. The last rcptr to go deletes both.
// Not thread-safe: an object and all rcptr sharing it stay on one thread.

#include <cstdio>
#include <cstdlib>

namespace kestrune_assert_detail {
// Internal invariant violated: print expression, function, file and line; stop.
[[noreturn]] inline void Fail(char const* expression, char const* function,
                              char const* file, int line)
{
  std::fprintf(stderr, "ASSERT failure in %s: \"%s\", file %s, line %d\n",
               function, expression, file, line);
  std::fflush(stderr);
  std::abort();
}
}  // namespace kestrune_assert_detail

// Always on (also in release builds): callers rely on these assertions as part of the contract.
#define KESTRUNE_STREAM_ASSERT(cond)                                                   \
  ((cond) ? static_cast<void>(0)                                                       \
          : ::kestrune_assert_detail::Fail(#cond, static_cast<char const*>(__PRETTY_FUNCTION__),  \
                                           __FILE__, __LINE__))

template <class T>
class rcptr
{
public:
  // Takes ownership of object (which may be null).
  explicit rcptr(T* object = nullptr) : mp_object(object), mp_count(new int(1)) {}

  rcptr(rcptr const& other) : mp_object(other.mp_object), mp_count(other.mp_count)
  {
    ++*mp_count;
  }

  rcptr& operator=(rcptr const& other)
  {
    ++*other.mp_count;  // first, so self-assignment is safe
    Release();
    mp_object = other.mp_object;
    mp_count = other.mp_count;
    return *this;
  }

  ~rcptr() { Release(); }

  T* operator->() const
  {
    KESTRUNE_STREAM_ASSERT(mp_object != 0);
    return mp_object;
  }

  T& operator*() const
  {
    KESTRUNE_STREAM_ASSERT(mp_object != 0);
    return *mp_object;
  }

  T* get() const { return mp_object; }

  // Number of rcptr currently sharing the object (for tests and diagnostics).
  int use_count() const { return *mp_count; }

private:
  void Release()
  {
    if (--*mp_count == 0) {
      delete mp_object;
      delete mp_count;
    }
  }

  T* mp_object;
  int* mp_count;
};
