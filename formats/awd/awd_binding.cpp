// Binding of the AWD viewer and encoder libraries. A binding holds the
// library it was made from: when process detach (or thread detach in the
// shell) has unloaded the library, the next call binds it afresh.
//
// Threads: loading, binding and unloading run under one mutex, and each
// call takes a copy of the entry points under it, so a thread never reads
// entries another thread is binding.
#include "formats/awd/awd_binding.h"

#include <mutex>

#include "platform/plat_loader.h"

namespace {

struct ViewerEntries {
    void* library = nullptr;
    ViewerOpenFn open = nullptr;
    ViewerSetPageFn setPage = nullptr;
    ViewerGetBandFn getBand = nullptr;
    ViewerCloseFn close = nullptr;
};

struct EncoderEntries {
    void* library = nullptr;
    ImageCreateFn imageCreate = nullptr;
    ImageSetBandFn imageSetBand = nullptr;
    ImageCloseFn imageClose = nullptr;
    AwdCreateFn awdCreate = nullptr;
    AwdAddImageFn awdAddImage = nullptr;  // bound with the others, not called
    AwdCloseFn awdClose = nullptr;
};

// The viewer and encoder libraries, loaded on first use; all of these
// under g_bindMutex.
std::mutex g_bindMutex;
void* g_awdViewerLib = nullptr;
void* g_awdEncoderLib = nullptr;
ViewerEntries g_viewer;
EncoderEntries g_encoder;

template <class Fn>
bool bind(void* library, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(plat_symbol(library, name));
    return *out != nullptr;
}

// The library loaded (or already loaded) into *slot; null when it cannot be.
void* load_into(void** slot, const char* soName) {
    if (!*slot) *slot = plat_load_library(soName);
    return *slot;
}

// The viewer's entry points (library null when it cannot be bound).
ViewerEntries viewer() {
    std::lock_guard<std::mutex> lock(g_bindMutex);
    if (g_viewer.library && g_viewer.library == g_awdViewerLib) return g_viewer;
    ViewerEntries v;
    v.library = load_into(&g_awdViewerLib, kAwdViewerLibrary);
    bool ok = v.library && bind(v.library, "ViewerOpen", &v.open) &&
              bind(v.library, "ViewerSetPage", &v.setPage) && bind(v.library, "ViewerGetBand", &v.getBand) &&
              bind(v.library, "ViewerClose", &v.close);
    if (!ok) return {};
    g_viewer = v;
    return v;
}

EncoderEntries encoder() {
    std::lock_guard<std::mutex> lock(g_bindMutex);
    if (g_encoder.library && g_encoder.library == g_awdEncoderLib) return g_encoder;
    EncoderEntries c;
    c.library = load_into(&g_awdEncoderLib, kAwdEncoderLibrary);
    bool ok = c.library && bind(c.library, "ImageCreate", &c.imageCreate) &&
              bind(c.library, "ImageSetBand", &c.imageSetBand) && bind(c.library, "ImageClose", &c.imageClose) &&
              bind(c.library, "AWDCreate", &c.awdCreate) && bind(c.library, "AWDAddImage", &c.awdAddImage) &&
              bind(c.library, "AWDClose", &c.awdClose);
    if (!ok) return {};
    g_encoder = c;
    return c;
}

}  // namespace

void* awd_viewer_open(StgStream* stream, uint16_t* bandBytes, ViewerDocInfo* info) {
    const ViewerEntries v = viewer();
    if (!v.library) return nullptr;
    uint32_t unused = 0;
    return v.open(stream, kViewerOpenKind, &unused, bandBytes, info);
}

int32_t awd_viewer_set_page(void* h, uint32_t page) {
    const ViewerEntries v = viewer();
    return v.library ? v.setPage(h, page) : 0;
}

int32_t awd_viewer_get_band(void* h, AwdBand* band) {
    const ViewerEntries v = viewer();
    return v.library ? v.getBand(h, band) : 0;
}

void awd_viewer_close(void* h) {
    const ViewerEntries v = viewer();
    if (v.library) v.close(h);
}

void* awd_image_create(const char* path, uint16_t xRes, uint16_t yRes) {
    const EncoderEntries c = encoder();
    if (!c.library) return nullptr;
    ImageParams params{kImageParamsKind, kImageParamsLineUnit, xRes, yRes};
    return c.imageCreate(path, &params);
}

int32_t awd_image_set_band(void* image, const AwdBand* band) {
    const EncoderEntries c = encoder();
    return c.library ? c.imageSetBand(image, band) : 0;
}

int32_t awd_image_close(void* image) {
    const EncoderEntries c = encoder();
    return c.library ? c.imageClose(image) : 0;
}

int32_t awd_make_file(const char* path) {
    const EncoderEntries c = encoder();
    if (!c.library) return 0;
    void* awd = c.awdCreate(path, 0);
    if (!awd) return 0;
    c.awdClose(awd);
    return 1;
}

void awd_unload_libraries() {
    std::lock_guard<std::mutex> lock(g_bindMutex);
    if (g_awdViewerLib) {
        plat_free_library(g_awdViewerLib);
        g_awdViewerLib = nullptr;
    }
    if (g_awdEncoderLib) {
        plat_free_library(g_awdEncoderLib);
        g_awdEncoderLib = nullptr;
    }
}
