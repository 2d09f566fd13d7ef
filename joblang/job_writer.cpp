#include "job_writer.h"

#include <algorithm>

namespace vexo::joblang {

void JobWriter::Chunker::write(const std::uint8_t* data, std::size_t length)
{
    while (length > 0) {
        const std::size_t take = std::min(length, kChunkSize - data_.size());
        data_.insert(data_.end(), data, data + take);
        data += take;
        length -= take;
        if (data_.size() == kChunkSize)
            emit();
    }
}

void JobWriter::Chunker::emit()
{
    if (data_.empty())
        return;
    if (!writer_.failed_) {
        framed_ = chunkHeader(data_.size());
        framed_.append(data_.begin(), data_.end());
        framed_ += ';';
        if (!writer_.sink_.chunk(reinterpret_cast<const std::uint8_t*>(framed_.data()), framed_.size()))
            writer_.fail();
    }
    data_.clear();
}

bool JobWriter::send(const std::string& text)
{
    return sink_.command(text) || fail();
}

bool JobWriter::fail()
{
    failed_ = true;
    return false;
}

bool JobWriter::start(const JobSettings& settings)
{
    if (started_ || ended_ || failed_)
        return false;
    settings_ = settings;
    if (!send(kStartOfJob) || !send(jobHeaderText(settings_)))
        return false;
    started_ = true;
    return true;
}

bool JobWriter::beginPage(const std::string& pageSize, int width, int height)
{
    if (!started_ || ended_ || failed_ || inPage_)
        return false;
    if (!send(pageHeaderText(pageSize, width, height, settings_.quality)))
        return false;
    page_ = {pageSize, roundUpTo8(width), height};
    inPage_ = true;
    return true;
}

void JobWriter::pageData(const std::uint8_t* data, std::size_t size)
{
    if (inPage_)
        chunks_.write(data, size);
}

bool JobWriter::endPage()
{
    if (!inPage_)
        return false;
    inPage_ = false;
    chunks_.emit();
    if (failed_ || !send(kEndOfPage))
        return false;
    sink_.flush();
    ++pagesSent_;
    return true;
}

bool JobWriter::sendPage(const PackedPage& page, const std::string& pageSize)
{
    if (!beginPage(pageSize, page.width, page.height))
        return false;
    encodeJbig(page.bits.get(), roundUpTo8(page.width), page.height, chunks_);
    const bool whole = !sink_.stopped();
    return endPage() && whole;
}

std::optional<PageShape> JobWriter::backPage() const
{
    if (settings_.duplex == 0 || pagesSent_ % 2 == 0)
        return std::nullopt;
    return page_;
}

bool JobWriter::finish()
{
    if (failed_ || ended_)
        return false;
    if (pagesSent_ == 0)
        return true;
    if (const auto back = backPage()) {
        const PackedPage blank = blankPage(back->width, back->height);
        if (!blank.bits || !sendPage(blank, back->pageSize))
            return fail();
    }
    return endJob();
}

bool JobWriter::endJob()
{
    if (failed_ || ended_)
        return false;
    ended_ = true;
    if (!send(kEndOfJob))
        return false;
    sink_.flush();
    return true;
}

void JobWriter::cancel()
{
    if (started_ && !ended_) {
        sink_.command(kCancelJob);
        sink_.flush();
    }
    ended_ = true;
}

}  // namespace vexo::joblang
