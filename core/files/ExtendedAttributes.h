#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace brasko {

// Gives the new file fdTarget the extended attributes of the file it replaces, held by fdExisting (an O_PATH
// descriptor) and named strName in the folder fdFolder. They are read through /proc from fdExisting; without
// /proc, from a readable descriptor of the same file. The access ACL is closed (CloseAcl). Attributes that
// belong to the old content rather than to the file are left behind. An attribute that cannot be set fails
// the whole file, so that the output is never less protected than before. 0 or an errno value.
int CarryAttributesOver(int fdExisting, int fdFolder, const std::string& strName, int fdTarget);

// Whether a new file took an access ACL from its folder's default ACL.
bool HasAccessAcl(int fd);

// Closes an access ACL as the kernel stores it (little endian: version 2, then entries of tag, permissions
// and id): the copy grants nothing beyond the owner until the final mode is applied. The mask (or, in an
// ACL without one, the owning group) and others get no permissions, the owner read and write; named entries
// keep theirs, limited by the mask. False for a value that is no such ACL.
bool CloseAcl(std::vector<char>& acl);

} // namespace brasko
