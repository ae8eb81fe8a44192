// SPDX-License-Identifier: GPL-3.0-or-later
#include "preview_worker.h"

void PreviewWorker::Stop()
{
    StopScan();
    m_pending = false;
}

int PreviewWorker::Open(const char* path, int box_width, int box_height)
{
    Stop();
    m_decoder = std::make_unique<PreviewDecoder>(box_width, box_height);
    return m_decoder->Open(path);
}

bool PreviewWorker::HasBox(int box_width, int box_height) const
{
    return m_decoder && m_decoder->BoxWidth() == box_width && m_decoder->BoxHeight() == box_height;
}

void PreviewWorker::SetBox(int box_width, int box_height)
{
    Stop();
    if (m_decoder)
        m_decoder->SetBox(box_width, box_height);
}

bool PreviewWorker::KeyPictureAt(int64_t time_us, PreviewPicture* out)
{
    Stop();
    return m_decoder && m_decoder->KeyPictureAt(time_us, out);
}

bool PreviewWorker::IsJump(int64_t time_us)
{
    Stop();
    return m_decoder && m_decoder->IsJump(time_us);
}

PreviewWorker::Result PreviewWorker::PictureAt(int64_t time_us, PreviewPicture* out, Shown later)
{
    Stop();
    if (!m_decoder)
        return Result::Failed;
    if (m_decoder->IsQuick(time_us))
        return m_decoder->PictureAt(time_us, out) ? Result::Shown : Result::Failed;
    m_pending = true;
    PreviewDecoder* decoder = m_decoder.get();
    Launch([this, decoder, time_us, later = std::move(later)](const std::atomic<bool>& cancel) -> Report {
        auto picture = std::make_shared<PreviewPicture>();
        const bool decoded = decoder->PictureAt(time_us, picture.get(), [&cancel] { return cancel.load(); });
        // Handed over on the window's thread, unless a newer request stopped it.
        return [this, decoded, picture, later] {
            m_pending = false;
            if (decoded)
                later(*picture);
        };
    });
    return Result::Later;
}
