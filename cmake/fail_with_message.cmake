# Stands in for a test whose tools are missing, so that ctest fails and says
# what to install instead of passing with fewer tests.
#   cmake -DMESSAGE=... -P fail_with_message.cmake
message(FATAL_ERROR "${MESSAGE}")
