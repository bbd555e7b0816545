# Precompiled headers: most of a translation unit's time goes into parsing Qt,
# QCoro and GoogleTest, the same headers every time. Two headers are compiled
# once per build directory, one for the product code and one for the tests
# (the same plus GoogleTest and what the tests use of QtCore), and every
# target of ours reuses one of them.
#
# A precompiled header is only used where the compiler's flags match those it
# was built with; GCC says so (-Winvalid-pch, which CMake adds) and falls back
# to parsing the headers. The headers listed here depend on none of the
# definitions that differ between our targets (QtTest's do: QT_GUI_LIB,
# QT_WIDGETS_LIB, QT_TESTCASE_BUILDDIR, so QtTest stays out), and both owners are
# built with the flags and definitions every target of ours has
# (pealix_warnings brings QT_NO_KEYWORDS, Qt6::Core QT_CORE_LIB and -fPIC,
# CMake's own flags the rest), the test header also with GoogleTest's.
#
# On by default with GCC. Off for clang (the fuzz build, which is small, and
# clang refuses a header built with other definitions instead of parsing) and
# under a compiler launcher: ccache caches nothing that uses a precompiled
# header unless told to be sloppy about it, and the header's path differs
# between build folders, so worktrees sharing one cache would no longer hit
# each other's entries. With -DPEALIX_PCH=ON under ccache, also set
# CCACHE_SLOPPINESS=pch_defines,time_macros.
set(pealix_pch_default OFF)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(pealix_pch_default ON)
endif()
option(PEALIX_PCH "Precompile the Qt, QCoro and GoogleTest headers" ${pealix_pch_default})

set(PEALIX_PCH_HEADERS
  <algorithm> <chrono> <functional> <memory> <optional> <utility> <vector>
  <QByteArray> <QCoreApplication> <QDir> <QFile> <QFileInfo> <QHash> <QHostAddress> <QJsonArray>
  <QJsonDocument> <QJsonObject> <QList> <QNetworkProxy> <QObject> <QPointer> <QSet> <QString>
  <QStringList> <QTcpServer> <QTcpSocket> <QTimer> <QUrl>
  <QCoro/QCoroTask> <QCoro/QCoroSignal> <QCoro/QCoroAbstractSocket>)

set(PEALIX_TEST_PCH_HEADERS
  ${PEALIX_PCH_HEADERS}
  <gtest/gtest.h>
  <QElapsedTimer> <QDeadlineTimer> <QProcess> <QSettings> <QTemporaryDir>
  <QCoro/QCoroProcess> <QCoro/QCoroTimer>)

# Call once, after every target exists.
function(pealix_precompile_headers)
  if(NOT PEALIX_PCH)
    return()
  endif()
  set(stub ${PROJECT_BINARY_DIR}/pch/pch.cpp)
  file(CONFIGURE OUTPUT ${stub} CONTENT "// Only here so that the precompiled header has a target to belong to.\n")

  # GCC refuses a header built with a definition that the user lacks, so the
  # owners have only the definitions all users share (Qt6::Core's and ours):
  # QtNetwork and QCoro's network part lend their include folders, not their
  # QT_NETWORK_LIB.
  set(network_includes $<TARGET_PROPERTY:Qt6::Network,INTERFACE_INCLUDE_DIRECTORIES>
                       $<TARGET_PROPERTY:QCoro6::Network,INTERFACE_INCLUDE_DIRECTORIES>)
  add_library(pealix_pch OBJECT ${stub})
  target_link_libraries(pealix_pch PRIVATE Qt6::Core QCoro6::Core pealix_warnings)
  target_include_directories(pealix_pch SYSTEM PRIVATE ${network_includes})
  target_precompile_headers(pealix_pch PRIVATE ${PEALIX_PCH_HEADERS})
  set_target_properties(pealix_pch PROPERTIES AUTOMOC OFF)

  add_library(pealix_test_pch OBJECT ${stub})
  target_link_libraries(pealix_test_pch PRIVATE Qt6::Core QCoro6::Core GTest::gtest pealix_warnings)
  target_include_directories(pealix_test_pch SYSTEM PRIVATE ${network_includes})
  target_precompile_headers(pealix_test_pch PRIVATE ${PEALIX_TEST_PCH_HEADERS})
  set_target_properties(pealix_test_pch PROPERTIES AUTOMOC OFF)

  # Every target of ours: it links pealix_warnings. Those that link GoogleTest,
  # directly or through the test main, are tests.
  pealix_collect_targets(${PROJECT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY)$"
       OR target STREQUAL "pealix_pch" OR target STREQUAL "pealix_test_pch")
      continue()
    endif()
    get_target_property(libs ${target} LINK_LIBRARIES)
    if(NOT "pealix_warnings" IN_LIST libs)
      continue()
    endif()
    # A program that does not use Qt (a benchmark driving X directly) has
    # neither Qt's include folders nor its -fPIC, so the header would not fit.
    set(uses_qt FALSE)
    foreach(lib IN LISTS libs)
      if(lib MATCHES "^(Qt6::|QCoro6::|pealix_)" AND NOT lib STREQUAL "pealix_warnings")
        set(uses_qt TRUE)
      endif()
    endforeach()
    if(NOT uses_qt)
      continue()
    endif()
    set(owner pealix_pch)
    foreach(lib IN ITEMS GTest::gtest GTest::gmock pealix_test_main pealix_test_main_gui pealix_test_support)
      if(lib IN_LIST libs)
        set(owner pealix_test_pch)
      endif()
    endforeach()
    target_precompile_headers(${target} REUSE_FROM ${owner})
  endforeach()
endfunction()

# Every target defined in DIR and the folders below it.
function(pealix_collect_targets dir out)
  get_property(found DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(children DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(child IN LISTS children)
    pealix_collect_targets(${child} below)
    list(APPEND found ${below})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
