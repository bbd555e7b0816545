# lld links our programs faster than GNU ld (whose time goes mostly
# into copying debug information), so every build uses it when it is installed.
# -DPEALIX_LLD=OFF keeps the system's default linker.
option(PEALIX_LLD "Link with lld when it is installed" ON)
if(PEALIX_LLD)
  include(CheckLinkerFlag)
  check_linker_flag(CXX -fuse-ld=lld PEALIX_HAVE_LLD)
  if(PEALIX_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
  endif()
endif()
