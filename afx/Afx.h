#pragma once

#include <cstdint>

class QIcon;

// The handful of platform types and message numbers the dialogs are written in.
using UINT = std::uint32_t;
using BOOL = int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using INT_PTR = std::intptr_t;
using HICON = const QIcon*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// Messages.
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_QUERYDRAGICON = 0x0037;
inline constexpr UINT WM_ICONERASEBKGND = 0x0027;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;

// Notification codes of WM_COMMAND.
inline constexpr UINT BN_CLICKED = 0;
inline constexpr UINT CBN_CLOSEUP = 8;

// System commands.
inline constexpr UINT SC_MOVE = 0xF010;
inline constexpr UINT SC_CLOSE = 0xF060;
// The low four bits of a system command are the platform's own.
inline constexpr UINT kSystemCommandMask = 0xFFF0;

// The framework's Help command.
inline constexpr int ID_HELP = 0xE146;

// Results and flags of the control operations.
inline constexpr int CB_ERR = -1;
inline constexpr int BST_UNCHECKED = 0;
inline constexpr int BST_CHECKED = 1;
inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_SEPARATOR = 0x0800;
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;

// A message as the dialogs receive it.
struct Message {
    UINT message;
    UINT code;  // notification code of WM_COMMAND
    int id;     // control identifier of WM_COMMAND
    WPARAM wParam;
    LPARAM lParam;
};

struct CRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};
