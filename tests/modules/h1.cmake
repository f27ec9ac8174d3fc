# Libraries for the host's library-loading tests (tests/vhost_core): one that loads cleanly and
# one with a function reference nothing defines.
orb_add_test_module(h1_plain_library SOURCES ${CMAKE_CURRENT_LIST_DIR}/h1/plain_library.c)
orb_add_test_module(h1_unresolved_library SOURCES ${CMAKE_CURRENT_LIST_DIR}/h1/unresolved_library.c)
