# SPDX-FileCopyrightText: 2026 Ferrik maintainers
# SPDX-License-Identifier: Apache-2.0
# Builds and runs the consumer program against an installed OVLCore, once through the CMake
# package and once through pkg-config.
#   cmake -DBUILD_DIR=<tree> -DWORK_DIR=<dir> [-DCXX=<compiler>] [-DGENERATOR=<generator>] -P run.cmake
#       installs <tree> with DESTDIR=<dir>/root and uses the prefix inside it
#   cmake -DPREFIX=/usr -DWORK_DIR=<dir> -P run.cmake
#       uses what is installed in PREFIX
cmake_minimum_required(VERSION 3.25)

function(run)
    execute_process(COMMAND ${ARGV} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        list(JOIN ARGV " " command)
        message(FATAL_ERROR "install-consumer: failed (${status}): ${command}")
    endif()
endfunction()

if(NOT WORK_DIR)
    message(FATAL_ERROR "install-consumer: WORK_DIR is required")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
set(root "")
if(BUILD_DIR)
    # As a package build does: the configured prefix under a staging root.
    set(root ${WORK_DIR}/root)
    run(${CMAKE_COMMAND} -E env DESTDIR=${root} ${CMAKE_COMMAND} --install ${BUILD_DIR})
    file(STRINGS ${BUILD_DIR}/CMakeCache.txt line REGEX "^CMAKE_INSTALL_PREFIX:")
    string(REGEX REPLACE "^[^=]*=" "" PREFIX "${line}")
endif()
if(NOT PREFIX)
    message(FATAL_ERROR "install-consumer: give BUILD_DIR or PREFIX")
endif()
set(prefix ${root}${PREFIX})
if(NOT CXX)
    set(CXX c++)
endif()

# Through the CMake package.
set(generator_args)
if(GENERATOR)
    set(generator_args -G ${GENERATOR})
endif()
run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${WORK_DIR}/cmake ${generator_args}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake)
run(${WORK_DIR}/cmake/ovlcore_consumer)

# Through pkg-config, with the prefix moved to where the files are.
file(GLOB_RECURSE pc_files ${prefix}/*/ovlcore.pc)
list(LENGTH pc_files found)
if(NOT found EQUAL 1)
    message(FATAL_ERROR "install-consumer: expected one ovlcore.pc under ${prefix}, found: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir}
            pkg-config --define-variable=prefix=${prefix} --cflags --libs ovlcore
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "install-consumer: pkg-config does not know ovlcore")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
file(MAKE_DIRECTORY ${WORK_DIR}/pkg-config)
run(${CXX} -std=c++20 ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${flags} -o ${WORK_DIR}/pkg-config/ovlcore_consumer)
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir}
            pkg-config --define-variable=prefix=${prefix} --variable=libdir ovlcore
    OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE)
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${libdir}
    ${WORK_DIR}/pkg-config/ovlcore_consumer)
