# Debian's build flags, as a Debian package build gets them from dpkg-buildflags with every
# hardening feature on (DEB_BUILD_MAINT_OPTIONS=hardening=+all): fortified libc calls, the
# stack protector, a position-independent executable, read-only relocations, immediate
# binding, stack clash and control-flow protection; and the flags of a reproducible build, which record the file names of the
# sources and of the build tree relative to them, so that no build path is in the binary.
# Optimisation and debug information stay the build type's. Sets PYLON_DEBIAN_BUILDFLAGS
# when the flags are in use.

find_program(PYLON_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT PYLON_DPKG_BUILDFLAGS)
    message(WARNING "dpkg-buildflags not found (Debian package dpkg-dev): built without Debian's "
                    "hardening flags")
    return()
endif()

function(pylon_dpkg_buildflags variable flag)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${PYLON_DPKG_BUILDFLAGS} --get ${flag}
        # The reproducible flags map this directory to ".".
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE flags
        OUTPUT_STRIP_TRAILING_WHITESPACE
        COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    set(${variable} ${flags} PARENT_SCOPE)
endfunction()

pylon_dpkg_buildflags(PYLON_CPPFLAGS CPPFLAGS)
pylon_dpkg_buildflags(PYLON_CXXFLAGS CXXFLAGS)
pylon_dpkg_buildflags(PYLON_LDFLAGS LDFLAGS)
list(REMOVE_ITEM PYLON_CXXFLAGS -g -O2)
# Stack clash protection and, on x86-64, control-flow protection: part of hardening=+all from
# dpkg 1.22 on (stackclash, branch), missing from the dpkg of Debian 12.
list(APPEND PYLON_CXXFLAGS -fstack-clash-protection)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    list(APPEND PYLON_CXXFLAGS -fcf-protection)
endif()
list(REMOVE_DUPLICATES PYLON_CXXFLAGS)
# Fortified calls need an optimising build; glibc warns about them in any other.
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
    list(FILTER PYLON_CPPFLAGS EXCLUDE REGEX "^-D_FORTIFY_SOURCE")
endif()
add_compile_options(${PYLON_CPPFLAGS} ${PYLON_CXXFLAGS})
add_link_options(${PYLON_LDFLAGS})

# A build tree outside the sources (BUILD_DIR) is recorded as "build".
file(RELATIVE_PATH PYLON_BUILD_TREE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
if(PYLON_BUILD_TREE MATCHES "^\\.\\./")
    add_compile_options(-ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
endif()

set(PYLON_DEBIAN_BUILDFLAGS ON)
