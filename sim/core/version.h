#pragma once

// The program's version, from the build's project version: the same text in every
// front end (window, headless runner, Python package).
const char* LandUseVersion();
