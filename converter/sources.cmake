# The converter's sources, named once for both builds of it: the Linux one
# (converter/CMakeLists.txt) and the Windows cross build (windows/). Each
# adds its own entry routine, entry_linux.cpp or entry_windows.cpp.
set(CARVEX_CONVERTER_SOURCES
  text.cpp
  text_buffer.cpp
  run.cpp
  param_list.cpp
  settings.cpp
  library_reader.cpp
  symbol_sort.cpp
  include_writer.cpp
  include_file.cpp
  batch_driver.cpp)
