# The committed key reference must be what keyref writes from the tables now:
#   cmake -DKEYREF=keyref -DREFERENCE=docs/keys.md -DGENERATED=out.md -P check.cmake
execute_process(COMMAND ${KEYREF} ${GENERATED} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "keyref could not write ${GENERATED} (${result})")
endif()
file(READ ${REFERENCE} committed)
file(READ ${GENERATED} generated)
if(NOT committed STREQUAL generated)
  message(FATAL_ERROR "docs/keys.md is not what the key tables give now (compare it with ${GENERATED}).\n"
    "Regenerate it: cmake --build build/host --target keys-md")
endif()
