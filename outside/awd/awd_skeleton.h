// New AWD files for the encoder: the tree an empty file needs, and image
// files added to it as documents.
#pragma once

// Creates a compound file at path (which must not exist) holding
// "Documents", the summary stream and "Persistent Information" with
// "Global Information" (an empty "Display Order"), "Document Information"
// and "Page Information". The new file's handle, or null; a file that could
// not be completed is removed.
void* awd_skeleton_create(const char* path);
// Copies the image file into a new document stream named by the file's
// name part and puts that name at the end of the display order.
bool awd_skeleton_add_image(void* awd, const char* imagePath);
// Ends the handle and closes the file.
void awd_skeleton_close(void* awd);
