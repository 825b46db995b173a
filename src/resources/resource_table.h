// The string and dialog tables compiled from the data files beside this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace vodarezazuv {

struct StringResource {
    uint32_t id;
    const char16_t* text;
};

// One control of a dialog, in the order of the resource (also the tab order). Positions and
// sizes are in dialog units. id is -1 for a static label without an id.
struct DialogControlResource {
    int32_t id;
    // "label", "groupbox", "edit", "button", "checkbox", "radio" or "dropdown".
    const char* kind;
    // Comma-separated, empty for none: "default", "password", "readonly", "autohscroll",
    // "hidden", "disabled", "group", "sorted".
    const char* flags;
    int16_t x, y, width, height;
    const char16_t* text;
};

struct DialogResource {
    int32_t id;
    const char16_t* title;
    const char16_t* font;
    int32_t fontPoints;
    int32_t width, height;
    const DialogControlResource* controls;
    size_t controlCount;
};

struct ResourceTables {
    const StringResource* strings;  // sorted by id
    size_t stringCount;
    const DialogResource* dialogs;
    size_t dialogCount;
};

// Index 0 English, 1 German.
extern const ResourceTables kResourceTables[2];

}  // namespace vodarezazuv
