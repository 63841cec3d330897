#pragma once

#include <span>
#include <type_traits>
#include <variant>

#include "afx/Afx.h"

// One row of a class's static message map: a message, for WM_COMMAND also a
// notification code and a control identifier, and the member that handles it.
// The member is reached through a small thunk, so handlers a class inherits
// from a plain base (the line panel's) are called on that base directly.
template <class T>
struct MessageMapEntry {
    using Plain = void (*)(T&);
    using SysCommand = void (*)(T&, UINT, LPARAM);
    using QueryIcon = HICON (*)(T&);

    UINT message;
    UINT code;
    int id;
    std::variant<Plain, SysCommand, QueryIcon> handler;
};

// The class that declares a member function.
template <class>
struct DeclaringClass;
template <class R, class C, class... A>
struct DeclaringClass<R (C::*)(A...)> {
    using type = C;
};

// Calls `Handler` on the part of `t` that declares it.
template <auto Handler, class T, class... A>
decltype(auto) CallHandler(T& t, A... args) {
    using Owner = typename DeclaringClass<decltype(Handler)>::type;
#pragma GCC diagnostic push
    // GCC 12 reports a member pointer constant of a base class as type punning.
#pragma GCC diagnostic ignored "-Wstrict-aliasing"
    return (static_cast<Owner&>(t).*Handler)(args...);
#pragma GCC diagnostic pop
}

// A WM_COMMAND row: notification `code` from control `id` goes to `Handler`.
template <class T, auto Handler>
constexpr MessageMapEntry<T> OnCommand(UINT code, int id) {
    return {WM_COMMAND, code, id,
            typename MessageMapEntry<T>::Plain{[](T& t) { CallHandler<Handler>(t); }}};
}

// A row for any other message; the handler's signature says how it is called.
template <class T, auto Handler>
constexpr MessageMapEntry<T> OnMessage(UINT message) {
    using Entry = MessageMapEntry<T>;
    if constexpr (std::is_invocable_v<decltype(Handler), T&, UINT, LPARAM>) {
        return {message, 0, 0, typename Entry::SysCommand{[](T& t, UINT id, LPARAM lp) {
                    CallHandler<Handler>(t, id, lp);
                }}};
    } else if constexpr (std::is_same_v<std::invoke_result_t<decltype(Handler), T&>, HICON>) {
        return {message, 0, 0,
                typename Entry::QueryIcon{[](T& t) { return CallHandler<Handler>(t); }}};
    } else {
        return {message, 0, 0, typename Entry::Plain{[](T& t) { CallHandler<Handler>(t); }}};
    }
}

// Finds the row for `msg` and calls its handler. False when no row matches.
template <class T>
bool RouteThroughMap(T& target, std::span<const MessageMapEntry<T>> map, const Message& msg,
                     LRESULT& result) {
    using Entry = MessageMapEntry<T>;
    for (const Entry& row : map) {
        if (row.message != msg.message) continue;
        if (msg.message == WM_COMMAND && (row.code != msg.code || row.id != msg.id)) continue;
        if (auto plain = std::get_if<typename Entry::Plain>(&row.handler)) {
            (*plain)(target);
        } else if (auto sys = std::get_if<typename Entry::SysCommand>(&row.handler)) {
            (*sys)(target, static_cast<UINT>(msg.wParam), msg.lParam);
        } else if (auto icon = std::get_if<typename Entry::QueryIcon>(&row.handler)) {
            result = reinterpret_cast<LRESULT>((*icon)(target));
        }
        return true;
    }
    return false;
}
