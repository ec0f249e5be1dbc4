// Which icon an item of the file lister gets, by kind and by extension (the
// text after the last "." of the name, compared byte for byte).
#include "shell/file_lister.h"

static const char *const picture_and_video_extensions[] = {
    "png",  "apng", "jpg",  "jpeg", "jpg2", "jpf",  "jpx",  "j2k", "jxl",  "jxr", "jxsi", "jxt", "jhdr", "jfif",
    "pjpeg", "pjp", "qoi",  "gif",  "bmp",  "dib",  "ico",  "cur", "icns", "tga", "webp", "tif", "tiff", "psd",
    "raw",  "svg",  "svgz", "dds",  "exr",  "hdr",  "hevc", "pbm", "pgm",  "ppm", "pnm",  "pic", "wbmp", "xbm",
    "mkv",  "flv",  "ogv",  "gifv", "avi",  "mov",  "qt",   "wmv", "yuv",  "asf", "amv",  "mp4", "m4v",  "mpg",
    "mpeg", "mpe",  "mpv",  "m2v",  "3gp",  "3g2",  "nsv",  "bk2", "mnv",  "ogv", "zmv",  "mpv", "mov",
};
static const char *const audio_extensions[] = {
    "mp3", "wav", "aiff", "aif", "flac", "ogg", "opus", "midi", "wma", "aax",
    "m4a", "m4p", "mp2",  "audio", "caf", "mka", "dts", "ac3", "tta", "qoa",
};
static_assert(ARRAY_COUNT(picture_and_video_extensions) == 69 && ARRAY_COUNT(audio_extensions) == 20);

static bool extension_in(String extension, const char *const *list, u32 count) {
    for (u32 i = 0; i < count; i++)
        if (string_equal(extension, S(list[i]))) return true;
    return false;
}

u8 file_lister_item_icon(const File_Lister_Item *item) {
    if (item->is_directory) return LISTER_ICON_FOLDER;
    if (item->is_new) return LISTER_ICON_NEW_FILE;
    String name = item->name;
    s64 dot = name.count - 1;
    while (dot >= 0 && name.data[dot] != '.' && name.data[dot] != '/') dot--;
    if (dot < 0 || name.data[dot] != '.') return LISTER_ICON_FILE;
    String extension = {name.data + dot + 1, name.count - dot - 1};
    if (extension_in(extension, picture_and_video_extensions, ARRAY_COUNT(picture_and_video_extensions)))
        return LISTER_ICON_PICTURE;
    if (extension_in(extension, audio_extensions, ARRAY_COUNT(audio_extensions))) return LISTER_ICON_AUDIO;
    return LISTER_ICON_FILE;
}
