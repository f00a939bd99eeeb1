#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brasko {

// Where the attributes of a replaced file are read: a readable descriptor, or a path to the file.
struct SAttributeSource
{
    int fd = -1;
    std::string strPath;

    ssize_t List(char* pBuffer, std::size_t nSize) const;
    ssize_t Get(const char* pszName, char* pBuffer, std::size_t nSize) const;
};

// Gives the new file fdTarget the replaced file's extended attributes, its access ACL closed (CloseAcl).
// Attributes that belong to the old content rather than to the file are left behind. An attribute that
// cannot be set fails the whole file, so that the output is never less protected than before. 0 or an errno
// value.
int CopyAttributes(const SAttributeSource& source, int fdTarget);

// Whether a new file took an access ACL from its folder's default ACL.
bool HasAccessAcl(int fd);

// Closes an access ACL as the kernel stores it (little endian: version 2, then entries of tag, permissions
// and id): the copy grants nothing beyond the owner until the final mode is applied. The mask (or, in an
// ACL without one, the owning group) and others get no permissions, the owner read and write; named entries
// keep theirs, limited by the mask. False for a value that is no such ACL.
bool CloseAcl(std::vector<char>& acl);

} // namespace brasko
