#pragma once

#include <foundation/feature/IFeature.h>

namespace foundation::feature {

/// The one kind of flag the library evaluates: plain on/off.
inline constexpr int booleanFeatureKind = 0;

/// Flag classes are specialisations of this template, keyed by their kind. The library ships no
/// definition: a client defines Feature<booleanFeatureKind> with a constexpr constructor taking
/// the name, getKind() returning booleanFeatureKind, and getState() that returns a cached
/// pointer, calling management::process::getDataPtr(std::string(getName())) and storing the
/// answer (an atomic pointer, mutable, null at construction) only while the cache is empty.
/// Concurrent first lookups are harmless: getDataPtr returns the same record for the same name.
template <int Kind> class Feature;

} // namespace foundation::feature
