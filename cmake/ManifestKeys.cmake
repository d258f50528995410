# Keys that authenticate a new manifest (ECDSA P-256 public keys in PEM).
#
# Two key tables, kept apart:
# - update_manifest_keys: the publisher's keys, named by the cache option
#   VELISK_MANIFEST_PUBLIC_KEYS (a ;-list of PEM files outside the tree).
#   Update.exe and every program not marked otherwise link this one. With no
#   key the table is empty and the updater checks nothing, as before.
# - update_test_manifest_keys: keys that the x86-64 tree makes for its tests at
#   configure time (build/x86_64/test-keys). Only programs whose property
#   VELISK_TEST_MANIFEST_KEYS is ON link it (UpdateSigned.exe and the signing
#   tests); they are never shipped.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(VELISK_MANIFEST_PUBLIC_KEYS "" CACHE STRING
    "PEM public keys (ECDSA P-256, ;-separated) whose signatures the shipped Update.exe accepts on manifests")

set(VELISK_KEY_TABLE_SCRIPT "${CMAKE_SOURCE_DIR}/cmake/make_manifest_key_table.py")

# velisk_manifest_key_table(<target> [PEM...]): a static library defining
# TrustedManifestKeys() with the given keys, regenerated when a key changes.
# The keys are checked at configure time, so a wrong file stops the build early.
function(velisk_manifest_key_table target)
    set(pems)
    foreach(pem ${ARGN})
        get_filename_component(pem "${pem}" ABSOLUTE)
        list(APPEND pems "${pem}")
    endforeach()
    if(pems)
        execute_process(COMMAND "${Python3_EXECUTABLE}" "${VELISK_KEY_TABLE_SCRIPT}" --check ${pems}
                        RESULT_VARIABLE status ERROR_VARIABLE problem)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "${target}: ${problem}")
        endif()
    endif()
    set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}.cpp")
    add_custom_command(OUTPUT "${out}"
        COMMAND "${Python3_EXECUTABLE}" "${VELISK_KEY_TABLE_SCRIPT}" "${out}" ${pems}
        DEPENDS "${VELISK_KEY_TABLE_SCRIPT}" "${CMAKE_SOURCE_DIR}/tools/make_release/signing.py" ${pems}
        COMMENT "Writing the manifest key table ${target}")
    add_library(${target} STATIC "${out}")
    target_include_directories(${target} PRIVATE "${CMAKE_SOURCE_DIR}/update")
endfunction()

# The publisher's table (shipped).
velisk_manifest_key_table(update_manifest_keys ${VELISK_MANIFEST_PUBLIC_KEYS})
if(VELISK_MANIFEST_PUBLIC_KEYS)
    list(LENGTH VELISK_MANIFEST_PUBLIC_KEYS key_count)
    message(STATUS "Update.exe checks manifest signatures with ${key_count} key(s): ${VELISK_MANIFEST_PUBLIC_KEYS}")
else()
    message(WARNING "No manifest signing key (VELISK_MANIFEST_PUBLIC_KEYS is empty): this Update.exe will NOT "
                    "check manifest signatures and installs whatever manifest the server sends. Name the "
                    "publisher's PEM public keys with -DVELISK_MANIFEST_PUBLIC_KEYS=a.pem;b.pem (see README).")
endif()

# The test table: two keys built in, a third that is not (for "unknown key").
if(VELISK_RUN_TESTS)
    set(VELISK_TEST_KEY_DIR "${CMAKE_BINARY_DIR}/test-keys" CACHE INTERNAL "Test signing keys of this tree")
    foreach(name first second outsider)
        if(NOT EXISTS "${VELISK_TEST_KEY_DIR}/${name}.public.pem")
            file(REMOVE "${VELISK_TEST_KEY_DIR}/${name}.private.pem")
            execute_process(COMMAND "${Python3_EXECUTABLE}" "${CMAKE_SOURCE_DIR}/tools/make_release"
                                    --make-key-pair "${VELISK_TEST_KEY_DIR}/${name}"
                            RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE problem)
            if(NOT status EQUAL 0)
                message(FATAL_ERROR "making the test signing key ${name}: ${problem}")
            endif()
        endif()
    endforeach()
    velisk_manifest_key_table(update_test_manifest_keys
        "${VELISK_TEST_KEY_DIR}/first.public.pem" "${VELISK_TEST_KEY_DIR}/second.public.pem")
endif()

# velisk_use_test_manifest_keys(<target>): the program trusts the test keys
# instead of the publisher's. For test programs only.
function(velisk_use_test_manifest_keys target)
    if(NOT VELISK_RUN_TESTS)
        message(FATAL_ERROR "${target}: test keys exist only in the x86-64 test tree")
    endif()
    set_property(TARGET ${target} PROPERTY VELISK_TEST_MANIFEST_KEYS ON)
endfunction()
