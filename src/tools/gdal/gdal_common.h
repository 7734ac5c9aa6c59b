// What the GDAL-backed parts of the command share: starting GDAL once,
// its failures carried into the error register, datasets closed by scope.
#ifndef ORVEX_TOOL_GDAL_COMMON_H
#define ORVEX_TOOL_GDAL_COMMON_H

#include <gdal.h>

#include <string>
#include <vector>

namespace orvexcli {

/* Registers GDAL's drivers once and bounds its block cache (64 MB unless
 * GDAL_CACHEMAX says otherwise), so that memory follows blocks, not files. */
void gdal_start();

/* While in scope, GDAL's failures join the error register as "GDAL: ...". */
class GdalErrors {
public:
    GdalErrors();
    ~GdalErrors();
    GdalErrors(const GdalErrors &) = delete;
    GdalErrors &operator=(const GdalErrors &) = delete;
};

/* A dataset closed when it goes out of scope. */
class Dataset {
public:
    explicit Dataset(GDALDatasetH h = nullptr) : h_(h) {}
    ~Dataset() { reset(); }
    Dataset(const Dataset &) = delete;
    Dataset &operator=(const Dataset &) = delete;
    GDALDatasetH get() const { return h_; }
    void reset(GDALDatasetH h = nullptr)
    {
        if (h_) GDALClose(h_);
        h_ = h;
    }
    /* Closes and reports whether the last writes reached the file. */
    int close();

private:
    GDALDatasetH h_;
};

/* A NULL-terminated list of strings for GDAL's option arguments. */
class OptionList {
public:
    OptionList() = default;
    OptionList(std::initializer_list<std::string> items) : items_(items) {}
    void add(const std::string &item) { items_.push_back(item); }
    char **get();

private:
    std::vector<std::string> items_;
    std::vector<char *> pointers_;
};

}  // namespace orvexcli

#endif
