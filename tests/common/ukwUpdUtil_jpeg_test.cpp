// CarregueImagemJPEG: pictures encoded here with libjpeg come back with their size and
// colours; a fixture embedded by the build's resource step decodes; missing, empty and damaged
// resources leave the picture alone.
#include <gtest/gtest.h>

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "common/ResourceTable.h"
#include "common/ukwUpdUtil.h"

extern const kwres::ResourceSet kwTestResources;

namespace {

// Encodes width x height pixels (RGB, or one grey byte per pixel) at the highest quality.
std::vector<unsigned char> Encode(const std::vector<unsigned char>& pixels, int w, int h, bool grey) {
    jpeg_compress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = grey ? 1 : 3;
    c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    c.comp_info[0].h_samp_factor = 1;
    c.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&c, TRUE);
    const size_t stride = size_t(w) * (grey ? 1 : 3);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(pixels.data() + c.next_scanline * stride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<unsigned char> r(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return r;
}

// A table of resources that lives as long as the test and is searched while it does.
class Resources {
public:
    Resources() = default;
    ~Resources() { kwres::RemoveResourceSet(set_); }
    void Add(const char* name, const char* type, std::vector<unsigned char> bytes) {
        names_.emplace_back(name);
        types_.emplace_back(type);
        data_.push_back(std::move(bytes));
        // The deques keep every element in place, so the entries stay valid.
        entries_.clear();
        for (size_t i = 0; i < data_.size(); ++i)
            entries_.push_back({names_[i], types_[i], data_[i].data(), data_[i].size()});
        kwres::RemoveResourceSet(set_);
        set_ = {entries_.data(), entries_.size()};
        kwres::AddResourceSet(set_);
    }

private:
    std::deque<std::string> names_, types_;
    std::deque<std::vector<unsigned char>> data_;
    std::vector<kwres::Resource> entries_;
    kwres::ResourceSet set_{nullptr, 0};
};

bool Near(int a, int b) {
    return std::abs(a - b) <= 8;
}

TEST(CarregueImagemJPEG, DecodesSizeAndColours) {
    const int w = 40, h = 24;
    std::vector<unsigned char> px(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &px[(size_t(y) * w + x) * 3];
            // Four flat quarters: red, green, blue, white.
            const int q = (y < h / 2 ? 0 : 2) + (x < w / 2 ? 0 : 1);
            p[0] = (q == 0 || q == 3) ? 255 : 0;
            p[1] = (q == 1 || q == 3) ? 255 : 0;
            p[2] = (q == 2 || q == 3) ? 255 : 0;
        }
    Resources res;
    res.Add("LOGO", "JPEG", Encode(px, w, h, false));
    TPicture pic;
    CarregueImagemJPEG("logo", pic);  // names are found in any case
    ASSERT_EQ(pic.Width, w);
    ASSERT_EQ(pic.Height, h);
    ASSERT_EQ(pic.RGB.size(), size_t(w) * h * 3);
    // Away from the quarters' edges the colours are those encoded.
    for (auto [x, y] : {std::pair{4, 4}, std::pair{35, 4}, std::pair{4, 20}, std::pair{35, 20}}) {
        const unsigned char* want = &px[(size_t(y) * w + x) * 3];
        const unsigned char* got = &pic.RGB[(size_t(y) * w + x) * 3];
        for (int k = 0; k < 3; ++k)
            EXPECT_TRUE(Near(got[k], want[k])) << x << "," << y << " channel " << k << ": " << int(got[k]);
    }
}

TEST(CarregueImagemJPEG, AGreyPictureComesBackAsRGB) {
    const int w = 16, h = 16;
    std::vector<unsigned char> px(size_t(w) * h, 128);
    Resources res;
    res.Add("CINZA", "JPEG", Encode(px, w, h, true));
    TPicture pic;
    CarregueImagemJPEG("CINZA", pic);
    ASSERT_EQ(pic.RGB.size(), size_t(w) * h * 3);
    for (size_t i = 0; i < pic.RGB.size(); ++i)
        ASSERT_TRUE(Near(pic.RGB[i], 128)) << i;
}

TEST(CarregueImagemJPEG, TheBuildsEmbeddedResourceDecodes) {
    kwres::AddResourceSet(kwTestResources);
    TPicture pic;
    CarregueImagemJPEG("LOGO_TESTE", pic);
    kwres::RemoveResourceSet(kwTestResources);
    // The fixture is 16 x 8: red on the left half, blue on the right.
    ASSERT_EQ(pic.Width, 16);
    ASSERT_EQ(pic.Height, 8);
    EXPECT_TRUE(Near(pic.RGB[0], 255) && Near(pic.RGB[1], 0) && Near(pic.RGB[2], 0));
    const unsigned char* right = &pic.RGB[(4 * 16 + 15) * 3];
    EXPECT_TRUE(Near(right[0], 0) && Near(right[1], 0) && Near(right[2], 255));
}

TEST(CarregueImagemJPEG, MissingEmptyAndDamagedResourcesLeaveThePictureAlone) {
    const std::vector<unsigned char> px(8 * 8 * 3, 200);
    const auto good = Encode(px, 8, 8, false);
    Resources res;
    res.Add("VAZIO", "JPEG", {});
    res.Add("LIXO", "JPEG", std::vector<unsigned char>(100, 0x55));
    res.Add("CORTADO", "JPEG", std::vector<unsigned char>(good.begin(), good.begin() + 20));
    res.Add("OUTROTIPO", "BITMAP", good);

    TPicture pic;
    pic.Width = 1;
    pic.Height = 1;
    pic.RGB = {1, 2, 3};
    const TPicture before = pic;
    auto same = [&] {
        return pic.Width == before.Width && pic.Height == before.Height && pic.RGB == before.RGB;
    };

    CarregueImagemJPEG("NAO_EXISTE", pic);
    EXPECT_TRUE(same());
    CarregueImagemJPEG("VAZIO", pic);
    EXPECT_TRUE(same());
    CarregueImagemJPEG("OUTROTIPO", pic);  // not of type JPEG
    EXPECT_TRUE(same());
    EXPECT_THROW(CarregueImagemJPEG("LIXO", pic), EJPEG);
    EXPECT_TRUE(same());
    EXPECT_THROW(CarregueImagemJPEG("CORTADO", pic), EJPEG);
    EXPECT_TRUE(same());
}

}  // namespace
