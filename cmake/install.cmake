# What `cmake --install <build> --prefix <dir>` lays out: the engine library with its version
# links, the binding and zelvanfp.jar where they are built, the two public headers under
# include/zelvanfp/, the CMake package (target zelvanfp::zelvanfp), zelvanfp.pc and the README.
# Nothing of the tests, tools or internal headers.
include(CMakePackageConfigHelpers)

install(TARGETS zelvanfp EXPORT zelvanfpTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES interface/ZelvanFinger.h wsq/WsqCodec.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zelvanfp)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(ZF_JNI)
    install(TARGETS zelvanfp_jni LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    install_jar(zelvanfp_jar DESTINATION ${CMAKE_INSTALL_DATADIR}/java)
endif()

set(zf_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/zelvanfp)
install(EXPORT zelvanfpTargets NAMESPACE zelvanfp:: DESTINATION ${zf_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zelvanfpConfig.cmake.in
    ${PROJECT_BINARY_DIR}/zelvanfpConfig.cmake INSTALL_DESTINATION ${zf_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zelvanfpConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zelvanfpConfig.cmake
    ${PROJECT_BINARY_DIR}/zelvanfpConfigVersion.cmake DESTINATION ${zf_cmake_dir})

# The .pc file finds the prefix from its own place, so the installed tree can be moved.
file(RELATIVE_PATH zf_pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(${PROJECT_SOURCE_DIR}/cmake/zelvanfp.pc.in ${PROJECT_BINARY_DIR}/zelvanfp.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zelvanfp.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
