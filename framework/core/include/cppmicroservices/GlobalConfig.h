#ifndef CPPMICROSERVICES_GLOBALCONFIG_H
#define CPPMICROSERVICES_GLOBALCONFIG_H

// Build-wide settings of the bundled service framework (Linux, GCC/Clang).

#define US_BUILD_SHARED_LIBS
#define US_ENABLE_THREADING_SUPPORT
#define US_HAVE_VISIBILITY_ATTRIBUTE
#define US_HAVE_CXXABI_H

#define CppMicroServices_VERSION_MAJOR 3
#define CppMicroServices_VERSION_MINOR 7
#define CppMicroServices_VERSION_PATCH 0
#define CppMicroServices_VERSION_STR "3.7.0"
#define US_VERSION_MAJOR 3
#define US_VERSION_MINOR 7
#define US_VERSION_PATCH 0
#define US_VERSION_STR "3.7.0"

#if defined(__linux__)
#define US_PLATFORM_LINUX
#endif
#define US_PLATFORM_POSIX

#define US_LIB_PREFIX "lib"
#define US_LIB_EXT ".so"
#define US_EXE_EXT ""
#define US_LIB_POSTFIX ""

#define US_ABI_EXPORT __attribute__((visibility("default")))
#define US_ABI_IMPORT __attribute__((visibility("default")))
#define US_ABI_LOCAL __attribute__((visibility("hidden")))

#define US_MSVC_PUSH_DISABLE_WARNING(wn)
#define US_MSVC_POP_WARNING
#define US_MSVC_DISABLE_WARNING(wn)

#define us_gcc_pragma_expand(x) _Pragma(#x)
#define US_GCC_PUSH_DISABLE_WARNING(wn)                                                            \
    _Pragma("GCC diagnostic push") us_gcc_pragma_expand(GCC diagnostic ignored "-W" #wn)
#define US_GCC_POP_WARNING _Pragma("GCC diagnostic pop")

#define US_DEPRECATED __attribute__((deprecated))
#define US_UNUSED(x) (void)(x)
#define US_HAVE_THREAD_LOCAL
#define US_HAVE_REGEX

#define US_HASH_FUNCTION_BEGIN(type)                                                               \
    namespace std {                                                                                \
    template <> struct hash<type> {                                                                \
        std::size_t operator()(const type& arg) const {
#define US_HASH_FUNCTION_END                                                                       \
    }                                                                                              \
    }                                                                                              \
    ;                                                                                              \
    }

#define US_STR_(x) #x
#define US_STR(x) US_STR_(x)
#define US_CONCAT_(x, y) x##y
#define US_CONCAT(x, y) US_CONCAT_(x, y)

// Names of the per-bundle entry points that the framework looks up in a bundle library.
#define US_GET_CTX_PREFIX _us_get_bundle_context_instance_
#define US_SET_CTX_PREFIX _us_set_bundle_context_instance_
#define US_CTX_INS_PREFIX _us_bundle_context_instance_
#define US_GET_CTX_FUNC(bsn) US_CONCAT(US_GET_CTX_PREFIX, bsn)
#define US_SET_CTX_FUNC(bsn) US_CONCAT(US_SET_CTX_PREFIX, bsn)
#define US_CTX_INS(bsn) US_CONCAT(US_CTX_INS_PREFIX, bsn)
#define US_CREATE_ACTIVATOR_PREFIX _us_create_activator_
#define US_DESTROY_ACTIVATOR_PREFIX _us_destroy_activator_
#define US_CREATE_ACTIVATOR_FUNC(bsn) US_CONCAT(US_CREATE_ACTIVATOR_PREFIX, bsn)
#define US_DESTROY_ACTIVATOR_FUNC(bsn) US_CONCAT(US_DESTROY_ACTIVATOR_PREFIX, bsn)

#endif
