# The page renderer: pages decoded into pixels (libtiff, libjpeg-turbo,
# giflib, and run-length rows unpacked here), turned, shrunk and written as
# PNG (libpng). The tool carries it, and so does the render fuzz harness,
# which includes this file too.
find_path(TIFF_INCLUDE_DIR tiffio.h REQUIRED)
find_library(TIFF_LIBRARY tiff REQUIRED)
find_package(JPEG REQUIRED)
find_package(GIF REQUIRED)
find_package(PNG REQUIRED)
set(QVTAV_RENDER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/awd_copy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bilevel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bmp_picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/display.cpp
  ${CMAKE_CURRENT_LIST_DIR}/document.cpp
  ${CMAKE_CURRENT_LIST_DIR}/error_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/format_view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gif_picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jpeg_picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/names.cpp
  ${CMAKE_CURRENT_LIST_DIR}/page_picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/page_stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pcx_picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sheet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tga_picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tiff_picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tool_error.cpp)
set(QVTAV_RENDER_LIBRARIES ${TIFF_LIBRARY} JPEG::JPEG GIF::GIF PNG::PNG)
set(QVTAV_RENDER_INCLUDES ${CMAKE_CURRENT_LIST_DIR} ${TIFF_INCLUDE_DIR})
