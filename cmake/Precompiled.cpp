// The one source of a target that only precompiles headers (cmake/PrecompiledHeaders.cmake).
