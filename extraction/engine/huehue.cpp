// The engine's small colour palette: colours of a few keys as {R, G, B, intensity} and three
// 256-entry channel tables. Filled at construction; nothing in a run reads it.

#include "extraction/engine/Codex.h"

namespace wizard73 {
namespace {

int Store(unsigned char* out, unsigned c, bool invert)
{
    int sum = 0;
    for (int j = 0; j < 3; ++j) {
        const unsigned b = (c >> (8 * j)) & 255u;
        out[j] = static_cast<unsigned char>(invert ? 255u - b : b);
        sum += out[j];
    }
    const int intensity = sum / 3 > 1 ? sum / 3 : 1;
    out[3] = static_cast<unsigned char>(intensity);
    return intensity;
}

} // namespace

CHues::CHues() : m_hueOn(1), m_hue0{}, m_hue5{}, m_hue19{}, m_hue35{}, m_hue128{}, m_channel{}
{
    CHues::SetHue(0, 0xFFFFFF, 0);
    CHues::SetHue(19, 0x30FFFF, 0xFF2040);
    CHues::SetHue(128, 0xFF9090, 0);
    CHues::SetHue(5, 0x20FF40, 0);
    CHues::SetHue(35, 0x00FF00, 0x20C0FF);
}

int CHues::HueOrg(unsigned char* out, unsigned c)
{
    return Store(out, c, false);
}

int CHues::HueInv(unsigned char* out, unsigned c)
{
    return Store(out, c, true);
}

void CHues::SetHue(int key, unsigned c1, unsigned c2)
{
    switch (key) {
    case 0:
        HueOrg(m_hue0, c1);
        break;
    case 5:
        HueOrg(m_hue5, c1);
        break;
    case 128:
        HueOrg(m_hue128, c1);
        break;
    case 19:
    case 20:
    case 21:
        HueOrg(m_hue19[0], c1);
        HueInv(m_hue19[1], c2);
        break;
    case 35:
        HueOrg(m_hue35[0], c1);
        HueOrg(m_hue35[1], c2);
        break;
    default:
        break;
    }
}

void CHues::Colour(unsigned char v)
{
    m_hueOn = v == 1 ? 1 : 0;
}

void CHues::PolHue(int* table)
{
    for (int i = 0; i < 256; ++i) {
        const int v = table[i] - 127;
        const unsigned char* c = i < 128 ? m_hue19[1] : m_hue19[0];
        for (int j = 0; j < 3; ++j) {
            m_channel[j][i] = m_hueOn != 0 ? v * c[j] / c[3] : v;
        }
    }
}

void CHues::PolHue(int* table, unsigned char* rgb, unsigned char divisor)
{
    for (int i = 0; i < 256; ++i) {
        for (int j = 0; j < 3; ++j) {
            m_channel[j][i] = m_hueOn != 0 && divisor != 0 ? table[i] * rgb[j] / divisor : table[i];
        }
    }
}

} // namespace wizard73
