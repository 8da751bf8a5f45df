#pragma once
// X11Pixels: a rectangle of the root window on its way from the X server, requested as
// horizontal bands (all requests sent at once) and completed band by band as readers wait for
// rows. With MIT-SHM every band is written by the server into one shared-memory segment that this
// object owns; without it each band's GetImage reply holds its rows. Replies are collected in
// order by whichever reading thread needs them first.

#include "PictureData.h"
#include "ShmSegment.h"
#include "XcbReply.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class X11Connection;

class X11Pixels final : public imaging::Picture::Data
{
public:
    struct Rect
    {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };

    // Sends the requests for rect of the root window (through a shared-memory segment with
    // useShm, if one can be had); returns nullptr for an unusable layout. Nothing is waited for
    // but the server's attaching of a fresh segment.
    static std::shared_ptr<const X11Pixels> request(std::shared_ptr<X11Connection> connection,
                                                    const Rect &rect, QList<QRgb> palette,
                                                    bool useShm, int bandRows);
    ~X11Pixels() override;

    bool waitForRows(int rowEnd) const override;
    const std::uint8_t *scanLine(int y) const override;

private:
    struct Band
    {
        unsigned sequence = 0; // the request's cookie
        const std::uint8_t *rows = nullptr;
        XcbReply<void> reply; // without MIT-SHM: the GetImage reply that holds the rows
        bool done = false;
    };

    X11Pixels(const imaging::PixelLayout &pixelLayout, QList<QRgb> colours);
    bool completeBand(Band &band) const;

    std::shared_ptr<X11Connection> m_connection;
    std::unique_ptr<ShmSegment> m_segment;
    int m_bandRows = 0;
    mutable std::vector<Band> m_bands;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_bandDone;
    mutable int m_completed = 0; // bands [0, m_completed) are done
    mutable bool m_fetching = false;
    mutable bool m_failed = false;
};

} // namespace platform
