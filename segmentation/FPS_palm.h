// Segmenters of thumbs, palms and latent prints behind FSeg: two thumbs side by side, a lower
// palm with its interdigital area, two lower palms, the writer's palm, a full palm with its
// fingers (through the hand model) and the regions of ridge pattern of a latent print.
#pragma once

#include "segmentation/FPS.h"
#include "segmentation/fpalm_hand.h"

// Two thumbs: the left region is the left thumb (6), the right one the right thumb (1).
class CFpsThumbs : public CFps {
public:
    int Preprocessing() override;
    int Recognition(SGM_FINGER* missing, unsigned count) override;

    void FindRects();
    void FindThumbs();
    void CorrectThumbs();
    void ExpandThumbs();
};

// One lower palm: the palm (27 left, 25 right) and its interdigital area (34, 31).
class CFpsLowerPalm : public CFps {
public:
    int Preprocessing() override;
    int Recognition(SGM_FINGER* missing, unsigned count) override;
};

// Two lower palms side by side: 27 for the left region, 25 for the right one.
class CFpsLowerPalms : public CFps {
public:
    int Preprocessing() override;
    int Recognition(SGM_FINGER* missing, unsigned count) override;

    void FindPalms();
};

// The writer's palm, the edge of the hand: 24 left, 22 right.
class CFpsWritersPalm : public CFps {
public:
    int Preprocessing() override;
    int Recognition(SGM_FINGER* missing, unsigned count) override;
};

// A whole hand: the palm (25 right, 27 left), then every phalanx of every finger with its
// finger's code and the phalanx number. Works on the input resolution; images below the hand
// model's working raster are refused (CheckSize).
class CFpsFullPalm : public CFps {
public:
    // SGM_BAD_WIDTH or SGM_BAD_HEIGHT for an image the hand model cannot analyse, else 0.
    static int CheckSize(unsigned width, unsigned height);

    int Preprocessing() override;
    int Recognition(SGM_FINGER* missing, unsigned count) override;
    int RectsOut(SgmRect* rects, unsigned& rectCount, unsigned align) override;

    const CHand& hand() const { return m_handModel; }

private:
    CHand m_handModel;
};

// Latent print: every region of ridge pattern, upright, the largest one near the centre first.
class CFpsLatent : public CFps {
public:
    int Preprocessing() override;
    int Recognition(SGM_FINGER* missing, unsigned count) override;
    int RectsOut(SgmRect* rects, unsigned& rectCount, unsigned align) override;

    // Returns 0, or the pattern mask's failure code.
    int FindRects();
    static bool CheckRect(const CSpot& spot);
};
