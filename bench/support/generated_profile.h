// A machine profile with a given number of native system objects of every kind the settings road shows
// (enumerations with and without instance keys, texts, integers, ordered lists) and byte blocks, which the
// provider does not publish. The settings road benchmark and the library's read benchmark use it.
#pragma once

#include <string>

std::string GeneratedProfile(int count);
// How many of GeneratedProfile(count)'s objects the provider publishes as setting instances.
int PublishedSettings(int count);
