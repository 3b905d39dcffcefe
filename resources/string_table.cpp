#include "resources/string_table.h"

#include <algorithm>
#include <iterator>

namespace tandril {
namespace {

struct Entry {
    unsigned id;
    const char* text;
};

// Sorted by id. The texts are the program's own words, typos included: saved
// logs and users' bug reports quote them.
constexpr Entry kStrings[] = {
    {101, "&About Tandril..."},
    {103, "Cannot create a thread to do mirroring. Please quit some applications and try again."},
    {104,
     "Fail to initialize an internet session. Please make sure that your TCP/IP settings are "
     "correct."},
    {105,
     "There is insufficient memory for run the program. Please quit some applications and run "
     "again."},
    {106, "Opening an Internet session"},
    {108, "Connecting to %s"},
    {110, "Reading %s"},
    {111, "Cannot read from %s!"},
    {112, "Cannot connect to %s!"},
    {114, "Cannot create file %s!"},
    {115, "Cannot create directory %s!"},
    {116, "Cannot download %s!"},
    {120, "Processing file %s"},
    {121, "Please choose a directory for downloading."},
    {122, "Please enter a URL for downloading."},
    {123, "Cannot download files to CD-ROM drive (%s)!"},
    {124,
     "Another mirroring run is writing into %s. Please wait until it ends or choose another "
     "directory."},
    {125, "Cannot read the cookies file %s!"},
    {126,
     "%s is not a cookies file. Please choose a cookies.txt in the Netscape format, as browser "
     "extensions export it."},
    {127, "Not fetched, refused by robots.txt: %s"},
    {128, "Fetching %s although robots.txt refuses it: it is the start URL."},
    {129, "Waiting %s between requests, as robots.txt asks."},
    {130, "Pages ask that their links not be followed (robots meta tag or rel=nofollow)."},
    {131,
     "%s links were not followed because their pages asked so. To follow them, turn off \"Obey "
     "robots.txt\" in Options."},
    {132, "The pattern %s cannot be used. Please correct it in Options."},
    {133,
     "The download directory holds a copy of %s. Please choose another directory, or tick "
     "\"Start afresh\" to make a new copy there."},
    {134,
     "The record of the copy in %s cannot be read. Tick \"Start afresh\" to make a new record; "
     "the files already there are kept."},
    {135,
     "The record of the copy in %s was written by a newer version of Tandril. Tick \"Start "
     "afresh\" to make a new record; the files already there are kept."},
    {136, "Cannot create the record of the copy in %s! The copy is made without one."},
    {137, "Continuing the copy: %s."},
    {138, "Updating the copy: %s."},
    {139, "Updated: %s."},
    {140, "Gone from the site, its file is kept: %s"},
    {141, "Cannot write the record of the copy: %s"},
    {200, "URL entered is invalid or not supported."},
    {300,
     "The number of files downloaded has reached the maximum limit set in the options dialog."},
    {301,
     "The total number of mega-bytes downloaded has reached the maximum limit set in the options "
     "dialong."},
    {500, "No file error occurred."},
    {501, "Generic file open error."},
    {502, "File not found."},
    {503, "All or part of the path is invalid."},
    {504, "The permitted number of open files was exceeded."},
    {505, "The file could not be accessed."},
    {506, "There was an attempt to use an invalid file handle."},
    {507, "The current working directory cannot be removed."},
    {508, "There are no more directory entries."},
    {509, "There was an error trying to se the file pointer."},
    {510, "There was a hardware error."},
    {511, "SHARE.EXE was not loaded, or a shared region was locked."},
    {512, "There was an attempt to lock a region that was already locked."},
    {513, "The disk is full."},
    {514, "The end of file was reached."},
    {515, "There was a unspecified file error."},
    {800, "Tandril"},
    {1000, "Done!"},
    {1001, "OK"},
    {1002, "Choose a directory to save downloaded files:"},
};

}  // namespace

bool LoadString(unsigned id, std::string& text) {
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const Entry& e, unsigned key) { return e.id < key; });
    if (it == std::end(kStrings) || it->id != id) {
        return false;
    }
    text = it->text;
    return true;
}

}  // namespace tandril
