# Cross build for 64-bit ARM (Raspberry Pi OS, Debian arm64) on a Debian amd64
# machine with crossbuild-essential-arm64 and the arm64 libraries installed as
# a foreign architecture (scripts/deps.sh --arm64, in scripts/chroot.sh's
# chroot). Debian's arm64 Qt finds the machine's own moc, rcc and uic.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
