#pragma once
// One Vortely per support folder. The start claims the folder before anything
// else happens; a second start on a folder that a running Vortely holds says
// so and quits without writing anything.
#include <QString>
#include <memory>

#include "platform/KVRSupportFolder.h"

struct KVRInstanceRefusal {
  QString title, text;
};

// Claims the folder: the held lock, or null with *refusal filled in (why this
// start must quit).
std::unique_ptr<KVRSupportFolderLock> KVRClaimSupportFolder(const QString& folder, KVRInstanceRefusal* refusal);

// Tells the user why the start stops: on the error output, and in a message
// box that the user closes when the platform has a screen to show it on.
void KVRShowInstanceRefusal(const KVRInstanceRefusal& refusal);
