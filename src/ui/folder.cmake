# Folder selection: the "..." button's handler and the folder browser it opens.
target_sources(vo_ui PRIVATE
  "${CMAKE_CURRENT_LIST_DIR}/FolderBrowser.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/FolderSelection.cpp")
