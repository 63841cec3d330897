#include "afx/DialogTemplate.h"

namespace {
ResourceSet g_resources;
bool g_imagesLoaded = false;
}  // namespace

void RegisterResourceSet(const ResourceSet& resources) {
    g_resources = resources;
    g_imagesLoaded = false;
}

void LoadImageResources() {
    if (g_imagesLoaded || !g_resources.loadImages) return;
    g_imagesLoaded = true;
    g_resources.loadImages();
}

const char* FindStringResource(int id) {
    for (const StringResource& s : g_resources.strings)
        if (s.id == id) return s.text;
    return nullptr;
}

const DialogTemplate* FindDialogTemplate(int id) {
    for (const DialogTemplate& t : g_resources.dialogs)
        if (t.id == id) return &t;
    return nullptr;
}
