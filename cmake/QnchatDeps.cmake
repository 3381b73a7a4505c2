# Every external dependency is a Debian 12 package; nothing downloads at configure time.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui Widgets Network Sql Concurrent DBus Test)

pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavformat libavutil libswscale)
pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(X11LIBS REQUIRED IMPORTED_TARGET x11 xext xrandr)
pkg_check_modules(XDAMAGE REQUIRED IMPORTED_TARGET xdamage xfixes)
pkg_check_modules(GLES REQUIRED IMPORTED_TARGET egl glesv2)
# libyuv ships no pkg-config file on Debian 12.
find_path(LIBYUV_INCLUDE_DIR libyuv.h REQUIRED)
find_library(LIBYUV_LIBRARY yuv REQUIRED)
add_library(libyuv::libyuv UNKNOWN IMPORTED)
set_target_properties(libyuv::libyuv PROPERTIES
  IMPORTED_LOCATION ${LIBYUV_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${LIBYUV_INCLUDE_DIR})
find_package(OpenSSL REQUIRED)
find_package(spdlog REQUIRED)
find_package(FlatBuffers REQUIRED)
find_program(FLATC flatc REQUIRED)

find_path(HTTP_PARSER_INCLUDE_DIR http_parser.h REQUIRED)
find_library(HTTP_PARSER_LIBRARY http_parser REQUIRED)
add_library(http_parser::http_parser UNKNOWN IMPORTED)
set_target_properties(http_parser::http_parser PROPERTIES
  IMPORTED_LOCATION ${HTTP_PARSER_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${HTTP_PARSER_INCLUDE_DIR})
