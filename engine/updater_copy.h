// The copy of the running updater that the resume entry starts: made only from the program's own
// file, held open from the start of the run and confirmed to be the running image.
#ifndef ENGINE_UPDATER_COPY_H_
#define ENGINE_UPDATER_COPY_H_

#include <windows.h>

// Opens the running updater's own file by its wide-character path for reading and shares it only
// for reading, so that it cannot be changed, renamed or deleted while this run lasts; the copy the
// resume entry starts is made from this handle. The handle is kept only when its file is the one
// mapped as the running image (the path may name another file once the started one was renamed);
// otherwise no copy can be made. Called first thing at start-up (the copy calls it too, should it
// not have been).
void HoldUpdaterFile();

// Whether an open file is the one mapped as this program's running image: the system compares a
// view of the file with the image's view (file identity, not names, which under Wine keep the
// name the image was opened by and on a case-sensitive folder may differ in case only).
bool IsRunningImage(HANDLE file);

// Copies the running updater, through the held file, into the work folder (unless it runs from
// there) and gives the copy's path in copy[520]. False, with the system's text shown, when the
// program's own file is not held or the copy cannot be written.
bool CopyUpdaterIntoWorkFolder(wchar_t* copy);

// True when this run is the copy in the trusted work folder, which only the resume entry starts.
bool IsRunningAsResumeCopy();

#endif  // ENGINE_UPDATER_COPY_H_
