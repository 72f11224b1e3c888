// A conversation is written as straight-line code that waits for the client's bytes, yet
// one thread serves thousands of them: each conversation is a coroutine that suspends
// where it would block, and the event loop resumes it when its socket is ready. Task is
// the coroutine's return type: lazy (it runs when awaited or started), resuming its
// awaiter when it ends, and carrying an exception back to it.
#ifndef BROKER_TASK_H
#define BROKER_TASK_H

#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

namespace broker {

template <class T>
class Task;

namespace detail {

struct PromiseBase {
  std::coroutine_handle<> continuation = std::noop_coroutine();
  std::exception_ptr error;
  bool startedInline = false;  // running inside its awaiter's call
  bool finished = false;

  std::suspend_always initial_suspend() noexcept { return {}; }
  struct Final {
    bool await_ready() noexcept { return false; }
    template <class Promise>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> done) noexcept {
      PromiseBase& promise = done.promise();
      promise.finished = true;
      // Ending inside the awaiter's own call: returning there lets the awaiter go on
      // without the stack growing by a frame for every call that ends at once. Ending
      // after a wait: the awaiter goes on from here.
      return promise.startedInline ? std::noop_coroutine() : promise.continuation;
    }
    void await_resume() noexcept {}
  };
  Final final_suspend() noexcept { return {}; }
  void unhandled_exception() { error = std::current_exception(); }
  void rethrow() const {
    if (error) std::rethrow_exception(error);
  }
};

template <class T>
struct Promise : PromiseBase {
  std::optional<T> value;
  Task<T> get_return_object();
  template <class U>
  void return_value(U&& result) {
    value.emplace(std::forward<U>(result));
  }
  T take() {
    rethrow();
    return std::move(*value);
  }
};

template <>
struct Promise<void> : PromiseBase {
  Task<void> get_return_object();
  void return_void() {}
  void take() const { rethrow(); }
};

}  // namespace detail

template <class T = void>
class [[nodiscard]] Task {
 public:
  using promise_type = detail::Promise<T>;
  using Handle = std::coroutine_handle<promise_type>;

  explicit Task(Handle handle) : handle_(handle) {}
  Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
  Task& operator=(Task&& other) noexcept {
    if (this != &other) {
      if (handle_) handle_.destroy();
      handle_ = std::exchange(other.handle_, {});
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  // Destroying a suspended task destroys the whole chain of calls it is waiting in.
  ~Task() {
    if (handle_) handle_.destroy();
  }

  // Runs an outermost task until it first waits; done() tells when it has ended.
  void start() { handle_.resume(); }
  bool done() const { return !handle_ || handle_.done(); }

  bool await_ready() const noexcept { return false; }
  // Runs the task until it ends or waits; the awaiter waits only in the second case.
  bool await_suspend(std::coroutine_handle<> awaiting) noexcept {
    promise_type& promise = handle_.promise();
    promise.continuation = awaiting;
    promise.startedInline = true;
    handle_.resume();
    promise.startedInline = false;
    return !promise.finished;
  }
  T await_resume() { return handle_.promise().take(); }

 private:
  Handle handle_;
};

namespace detail {

template <class T>
Task<T> Promise<T>::get_return_object() {
  return Task<T>(std::coroutine_handle<Promise<T>>::from_promise(*this));
}

inline Task<void> Promise<void>::get_return_object() {
  return Task<void>(std::coroutine_handle<Promise<void>>::from_promise(*this));
}

}  // namespace detail

}  // namespace broker

#endif  // BROKER_TASK_H
