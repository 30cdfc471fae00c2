# Copies the folder FROM to TO when it exists (script mode).
if(EXISTS "${FROM}")
  file(COPY "${FROM}/" DESTINATION "${TO}")
endif()
