#pragma once

// Texts of the templates that belong to this build rather than to the layout.

inline constexpr char kMakerAddress[] = "www.lumaworkshop.com";
inline constexpr char kMainTitle[] = "TORV_VozUriz www.lumaworkshop.com";
inline constexpr char kMainNotice[] = "Lumaworkshop bench tool. No warranty.";
inline constexpr char kAboutNotice[] = "Copyright (C) Lumaworkshop. Free to use, no warranty.";

// Three lines, framed: what this build needs to reach a real parallel port.
inline constexpr char kDriverLine1[] = "Requires the Linux \"parport_pc\" and \"ppdev\" drivers";
inline constexpr char kDriverLine2[] = "and access to /dev/parport*:";
inline constexpr char kDriverLine3[] = "user in group lp, or --port-io=raw as root.";

// The Size list's entries, in its order: a module size index is a position here.
// The table of module sizes (lcd/Geometry.cpp) checks at compile time that its
// rows follow this order.
inline constexpr const char* kSizeNames[] = {"8x2",  "12x2", "16x1", "16x2", "20x2",
                                             "24x2", "16x4", "20x4", "40x2", "40x4"};
