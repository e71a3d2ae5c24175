// The application object and the default error box: every error that leaves an event handler
// ends here, is shown in a modal box with its message, and the program goes on.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cstddef>
#include <exception>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

namespace tz::app {

// The application's title: the main window's caption and the error box's.
inline constexpr char kApplicationTitle[] = "Tovan Zevediz";

// Shows a modal message box and returns the button chosen (a QMessageBox::StandardButton).
// Every modal box of the program goes through the installed hook, so tests can answer it.
using MessageBoxHook =
    std::function<int(QMessageBox::Icon icon, const QString& caption, const QString& text,
                      QMessageBox::StandardButtons buttons)>;

// Replaces the hook; an empty hook restores the real modal box.
void setMessageBoxHook(MessageBoxHook hook);
int showMessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                   QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// The default error box: a critical box captioned with the application title, OK only.
void showErrorBox(const QString& message);

// Shows the error in flight (the current exception) in the default error box.
// Call only from inside a catch block.
void reportCurrentException();

// The message of a caught error, as the default error box shows it: its text, "Out of memory"
// for an allocation failure, "Unknown error" for anything that is not a std::exception.
QString errorMessage(const std::exception_ptr& error);

// Runs one event handler; an error leaving it goes to the default error box.
template <class Handler>
void runGuarded(Handler&& handler) {
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        reportCurrentException();
    }
}

namespace detail {

template <class Handler, class Args, class Indexes>
struct InvocableWithPrefix;

template <class Handler, class Args, std::size_t... Index>
struct InvocableWithPrefix<Handler, Args, std::index_sequence<Index...>>
    : std::is_invocable<const Handler&, std::tuple_element_t<Index, Args>...> {};

// Calls `handler` with as many of the leading arguments as it takes, as Qt does for slots.
template <std::size_t Count, class Handler, class Args>
void invokeWithLeading(const Handler& handler, Args&& args) {
    using Plain = std::remove_reference_t<Args>;
    if constexpr (InvocableWithPrefix<Handler, Plain, std::make_index_sequence<Count>>::value) {
        [&]<std::size_t... Index>(std::index_sequence<Index...>) {
            handler(std::get<Index>(std::forward<Args>(args))...);
        }
        (std::make_index_sequence<Count>{});
    } else {
        static_assert(Count > 0, "the handler cannot take the signal's arguments");
        invokeWithLeading<Count - 1>(handler, std::forward<Args>(args));
    }
}

}  // namespace detail

// Wraps a handler for QObject::connect, so a throwing handler never unwinds through Qt.
// The handler takes the signal's leading arguments, or none.
template <class Handler>
auto guarded(Handler handler) {
    return [handler = std::move(handler)](auto&&... args) {
        runGuarded([&] {
            detail::invokeWithLeading<sizeof...(args)>(
                handler, std::forward_as_tuple(std::forward<decltype(args)>(args)...));
        });
    };
}

// The program's names and icon. No display name is set: the X11 window system would append it
// to every window's title, and each window's title is its caption alone.
void configureApplication();

// The application object. Its notify() is the last line of defence for errors thrown from
// event overrides that are not wrapped by runGuarded.
class Application : public QApplication {
    Q_OBJECT
  public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace tz::app
