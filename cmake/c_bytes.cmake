# The one way the build turns bytes into C source: hexadecimal digits (as
# file(READ ... HEX) or openssl give them) become the body of a byte array,
# 16 bytes a line. Used at configure time and by build-time scripts alike.
function(tvk_c_bytes hex out)
  string(REGEX REPLACE "([0-9A-Fa-f][0-9A-Fa-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
         "\\1\n" bytes "${bytes}")
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()
