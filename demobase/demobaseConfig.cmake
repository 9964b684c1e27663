# find_package(demobase): the imported target demobase::demobase (library, headers, EGL and GLES2).
include(CMakeFindDependencyMacro)
find_dependency(PkgConfig)
pkg_check_modules(DEMOBASE_GL QUIET REQUIRED IMPORTED_TARGET egl glesv2)
include("${CMAKE_CURRENT_LIST_DIR}/demobaseTargets.cmake")
