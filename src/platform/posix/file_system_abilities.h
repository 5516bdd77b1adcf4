#pragma once

// What a file system can do that a move relies on, found out once per file
// system with probes of the program's own, where its answers cannot be
// known from its type.

namespace qor::platform {

class RunJournal;

// Whether a hard link made on the file system of the folder `dir` shows the
// identity (inode number) of the file it links to, as on a local disk;
// sshfs gives each name a number of its own. The probe's two names are
// temporaries of `journal` (when given), so that a kill leaves none that
// a later run cannot remove.
bool LinksKeepIdentity(int dir, RunJournal* journal);

}  // namespace qor::platform
