# 32-bit Linux (i386) build with the machine's own GCC and its 32-bit
# libraries (Debian's g++-multilib), so that the tests exercise KOLVA with
# 32-bit pointers and sizes, as the 32-bit Windows program has them. The
# kernel runs the result natively where it can run 32-bit programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# Position-dependent code, as the 32-bit Windows program has: the machine's
# compiler makes position-independent code by default, which costs a 32-bit
# program one of its few registers in every function.
set(CMAKE_C_FLAGS_INIT "-m32 -fno-pie")
set(CMAKE_CXX_FLAGS_INIT "-m32 -fno-pie")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -no-pie")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
