# The headers every test file of a target parses, compiled once per target:
# GoogleTest and the standard library, and for the window tests Qt's Widgets
# and Test. Worth it only for targets of several files.
function(tabulary_test_headers target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "QT" "" "")
  target_precompile_headers(${target} PRIVATE
    <gtest/gtest.h> <algorithm> <functional> <map> <memory> <optional> <string> <vector>)
  if(arg_QT)
    target_precompile_headers(${target} PRIVATE <QApplication> <QDir> <QFile> <QListWidget>
                              <QPushButton> <QString> <QTest> <QWidget>)
  endif()
endfunction()
