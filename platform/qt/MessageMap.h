#pragma once

#include <span>
#include <variant>

#include "platform/qt/Afx.h"

// One row of a class's static message map: a message, for WM_COMMAND also a
// notification code and a control identifier, and the member that handles it.
template <class T>
struct MessageMapEntry {
    using Plain = void (T::*)();
    using SysCommand = void (T::*)(UINT, LPARAM);
    using QueryIcon = HICON (T::*)();

    UINT message;
    UINT code;
    int id;
    std::variant<Plain, SysCommand, QueryIcon> handler;
};

template <class T>
constexpr MessageMapEntry<T> OnCommand(UINT code, int id, void (T::*handler)()) {
    return {WM_COMMAND, code, id, handler};
}

template <class T, class Handler>
constexpr MessageMapEntry<T> OnMessage(UINT message, Handler handler) {
    return {message, 0, 0, handler};
}

// Finds the row for `msg` and calls its handler. False when no row matches.
template <class T>
bool RouteThroughMap(T& target, std::span<const MessageMapEntry<T>> map, const Message& msg,
                     LRESULT& result) {
    for (const MessageMapEntry<T>& row : map) {
        if (row.message != msg.message) continue;
        if (msg.message == WM_COMMAND && (row.code != msg.code || row.id != msg.id)) continue;
        std::visit(
            [&](auto handler) {
                using H = decltype(handler);
                if constexpr (std::is_same_v<H, typename MessageMapEntry<T>::Plain>) {
                    (target.*handler)();
                } else if constexpr (std::is_same_v<H, typename MessageMapEntry<T>::SysCommand>) {
                    (target.*handler)(static_cast<UINT>(msg.wParam), msg.lParam);
                } else {
                    result = reinterpret_cast<LRESULT>((target.*handler)());
                }
            },
            row.handler);
        return true;
    }
    return false;
}
