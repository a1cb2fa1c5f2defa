// The file system by name: ⎕NEXISTS, ⎕NPARTS, ⎕MKDIR, ⎕NDELETE and ⎕NINFO. A name is a character
// vector; a vector of names gives one answer per name.
//
//   ⎕NEXISTS name           1 when the name exists (a symbolic link counts, even a dangling one)
//   [1] ⎕NPARTS name        (directory with its trailing /, base name, extension with its dot);
//                           with 1 on the left the name is first made a full, normalised path
//   [flags] ⎕MKDIR name     1 when the directory was created, 0 when it already existed;
//                           flags 1 also creates the missing directories above it
//   [flags] ⎕NDELETE name   1 when deleted, 0 when nothing had the name; flags 0 deletes a file or an
//                           empty directory, 1 a directory with everything below it
//   props ⎕NINFO name       the properties asked for, one item per property (a single number asks for
//                           one, given as it is): 0 name, 1 type (0 none, 1 directory, 2 file,
//                           3 character device, 4 symbolic link, 5 block device, 6 FIFO, 7 socket),
//                           2 size in bytes, 3 time of last change as ⎕TS (local time), 4 owner's
//                           name, 5 1 when hidden (the name starts with a dot), 6 1 when the process
//                           may write it, 7 the target of a symbolic link ('' otherwise). Without a left
//                           argument: the name. With (props 1) on the left the name is a pattern
//                           (* ? [...]) and each property becomes a vector over the matching names.
#pragma once

namespace vantor {

void InitialiseFileSystemFunctions();

}  // namespace vantor
