# SPDX-License-Identifier: MIT
# Fails when a file of the engine includes a Qt, POSIX or other system header.
file(GLOB files ${DIR}/*.cpp ${DIR}/*.h)
set(forbidden "^[ \t]*#[ \t]*include[ \t]*<(Q[A-Za-z]*|qt[a-z]*/.*|unistd\\.h|termios\\.h|fcntl\\.h|pthread\\.h|dlfcn\\.h|sys/.*|poll\\.h|windows\\.h|linux/.*)>")
foreach(f ${files})
    file(STRINGS ${f} lines REGEX "#[ \t]*include")
    foreach(line ${lines})
        if(line MATCHES "${forbidden}")
            message(FATAL_ERROR "${f}: the engine may include only the C++ standard library: ${line}")
        endif()
    endforeach()
endforeach()
