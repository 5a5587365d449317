#pragma once
#include <QString>

// Starts the application delegate, waits for the start-up load, and writes
// PNG images of the main window into the folder: the overview with one
// product, with several products, with an account, and the iAd overview.
// Returns the process exit code (0 when every image was written).
int KVRRunScreenshots(const QString& folder);
