#include "analysis/report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "analysis/format.hpp"
#include "analysis/geo.hpp"
#include "analysis/robust.hpp"
#include "text/escape.hpp"

namespace vornakite::analysis {

namespace {

// Yield classes, low to high: ColorBrewer RdYlGn with seven classes.
constexpr const char* kClassColours[] = {"#d73027", "#fc8d59", "#fee08b", "#ffffbf",
                                         "#d9ef8b", "#91cf60", "#1a9850"};
constexpr int kClasses = 7;
constexpr std::uint8_t kRemovedClass = 7;
constexpr int kHistogramBins = 32;

constexpr const char* kStyle = R"CSS(<style>
:root{--ink:#1d2327;--muted:#5f6b73;--line:#d8dde1;--panel:#f6f7f8}
*{box-sizing:border-box}
body{margin:0;font:14px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,Arial,sans-serif;color:var(--ink);background:#fff}
header{padding:10px 20px;border-bottom:1px solid var(--line);display:flex;gap:16px;align-items:baseline;flex-wrap:wrap}
header h1{font-size:18px;margin:0}header nav a{margin-right:10px;color:#1f5f99}
section.log{padding:12px 20px 20px;border-bottom:1px solid var(--line)}
section.log h2{font-size:17px;margin:0 0 2px}
.sub{color:var(--muted);margin:0 0 8px}.note{background:#fff4d6;border:1px solid #e8c55a;padding:6px 10px;margin:6px 0}
.grid{display:grid;grid-template-columns:minmax(0,1.6fr) minmax(300px,1fr);gap:16px;align-items:start}
@media (max-width:900px){.grid{grid-template-columns:1fr}}
.mapbox{position:relative;border:1px solid var(--line);background:#fbfbf9}
.mapbox canvas{display:block;width:100%}
.legend{display:flex;flex-wrap:wrap;gap:4px 12px;margin:6px 0 0;font-size:12px;color:var(--muted)}
.legend i{display:inline-block;width:12px;height:12px;margin-right:4px;vertical-align:-2px;border:1px solid #0002}
.legend label{cursor:pointer}
table{border-collapse:collapse;width:100%;font-size:13px}
th,td{padding:3px 6px;border-bottom:1px solid var(--line);text-align:right;white-space:nowrap}
th:first-child,td:first-child{text-align:left}
thead th{background:var(--panel);font-weight:600}
.filters th,.filters td{text-align:left}.filters td:nth-child(3),.filters th:nth-child(3){text-align:right}
.filters td:last-child{white-space:normal;color:var(--muted);font-size:12px}
.filters td:nth-child(4){white-space:normal}
h3{font-size:13px;margin:12px 0 4px;color:var(--muted);text-transform:uppercase;letter-spacing:.04em}
svg.hist{width:100%;height:auto;display:block}
svg.hist text{font-size:10px;fill:var(--muted)}
code{font-size:12px}
</style>
)CSS";

constexpr const char* kScript = R"JS(<script>
(function(){
"use strict";
var logs=window.VK_LOGS||[],drawn=0;
function bytes(b64){var s=atob(b64),a=new Uint8Array(s.length);for(var i=0;i<s.length;i++)a[i]=s.charCodeAt(i);return a;}
function nice(m){var p=Math.pow(10,Math.floor(Math.log10(m))),f=m/p;return (f>=5?5:f>=2?2:1)*p;}
function draw(L){
  var cv=document.getElementById("map-"+L.id);if(!cv)return;
  if(!L.a)L.a=bytes(L.pts);
  var box=cv.parentElement,w=box.clientWidth,maxH=Math.max(260,window.innerHeight*0.72);
  var ew=Math.max(L.w,1e-9),eh=Math.max(L.h,1e-9),pad=14;
  var sc=Math.min((w-2*pad)/ew,(maxH-2*pad)/eh);if(!(sc>0)||!isFinite(sc))sc=1;
  var h=Math.max(200,Math.ceil(eh*sc+2*pad)),ox=(w-ew*sc)/2,oy=(h-eh*sc)/2;
  var dpr=window.devicePixelRatio||1;cv.width=Math.round(w*dpr);cv.height=Math.round(h*dpr);cv.style.height=h+"px";
  var c=cv.getContext("2d");c.setTransform(dpr,0,0,dpr,0,0);c.fillStyle="#fbfbf9";c.fillRect(0,0,w,h);
  var a=L.a,n=a.length/5|0,qx=ew/65535,qy=eh/65535,r=Math.min(6,Math.max(1.6,L.dot*sc));
  var showRemoved=document.getElementById("rm-"+L.id).checked;
  // Points straight into the pixels: one square each, kept points by class first, then the
  // removed ones on top. Far faster than a fillRect per point.
  var W=cv.width,H=cv.height,img=c.getImageData(0,0,W,H),px32=new Uint32Array(img.data.buffer);
  var rgba=L.colours.map(function(h){var v=parseInt(h.slice(1),16);return (255<<24|(v&255)<<16|(v>>8&255)<<8|v>>16)>>>0;});
  rgba[7]=(255<<24|0x22<<16|0x22<<8|0x22)>>>0;
  var s0=Math.max(1,Math.round(r*dpr)),s1=Math.max(1,Math.round(Math.max(1.4,r*0.7)*dpr));
  function paint(pass){
    for(var i=0;i<n;i++){var o=i*5,k=a[o+4];if((k===7)!==pass)continue;
      var s=pass?s1:s0,x=Math.round((ox+(a[o]|a[o+1]<<8)*qx*sc)*dpr-s/2),y=Math.round((h-oy-(a[o+2]|a[o+3]<<8)*qy*sc)*dpr-s/2),col=rgba[k];
      var x0=Math.max(0,x),x1=Math.min(W,x+s),y0=Math.max(0,y),y1=Math.min(H,y+s);
      for(var yy=y0;yy<y1;yy++){var row=yy*W;for(var xx=x0;xx<x1;xx++)px32[row+xx]=col;}}
  }
  paint(false);if(showRemoved)paint(true);
  c.putImageData(img,0,0);
  // Scale bar, bottom left; north arrow, top right.
  var m=nice(Math.max(w*0.22/sc,1e-3)),px=m*sc,bx=16,by=h-18;
  c.fillStyle="rgba(255,255,255,.85)";c.fillRect(bx-6,by-20,px+60,28);
  c.fillStyle="#1d2327";c.fillRect(bx,by,px,3);c.fillRect(bx,by-5,2,8);c.fillRect(bx+px-2,by-5,2,8);
  c.font="12px system-ui,sans-serif";c.fillText((m>=1000?m/1000+" km":m>=1?m+" m":m*100+" cm"),bx,by-8);
  var nx=w-24,ny=16;c.beginPath();c.moveTo(nx,ny);c.lineTo(nx-7,ny+18);c.lineTo(nx,ny+13);c.lineTo(nx+7,ny+18);c.closePath();c.fill();
  c.textAlign="center";c.fillText("N",nx,ny+32);c.textAlign="start";
  drawn++;
}
function all(){drawn=0;var t0=performance.now();logs.forEach(draw);document.body.setAttribute("data-maps-drawn",String(drawn));document.body.setAttribute("data-draw-ms",String(Math.round(performance.now()-t0)));}
var timer=0;window.addEventListener("resize",function(){clearTimeout(timer);timer=setTimeout(all,120);});
logs.forEach(function(L){var cb=document.getElementById("rm-"+L.id);if(cb)cb.addEventListener("change",function(){draw(L);});});
var nav=document.getElementById("nav");
logs.forEach(function(L){var a=document.createElement("a");a.href="#log-"+L.id;a.textContent=L.name;nav.appendChild(a);});
try{all();}catch(e){document.body.setAttribute("data-error",String(e));throw e;}
})();
</script>
)JS";

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void appendBase64(std::string& out, const std::vector<std::uint8_t>& data) {
    out.reserve(out.size() + (data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t v =
            (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (i < data.size()) {
        std::uint32_t v = std::uint32_t{data[i]} << 16;
        if (i + 1 < data.size()) {
            v |= std::uint32_t{data[i + 1]} << 8;
        }
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < data.size() ? kBase64[(v >> 6) & 63] : '=';
        out += '=';
    }
}

// std::lround(f * 65535) for f in [0, 1], without the library call.
std::uint16_t roundUnit(double f) {
    const double v = f * 65535.0;
    const auto t = static_cast<std::uint32_t>(v);
    return static_cast<std::uint16_t>(v - t >= 0.5 ? t + 1 : t);
}

std::string cell(double v, int decimals) {
    const std::string s = fixedNumber(v, decimals);
    return s.empty() ? "&ndash;" : s;
}

// Class breaks: the 1/7 ... 6/7 quantiles of the kept yields (a sample of them).
std::vector<double> classBreaks(std::vector<double>& kept) {
    std::vector<double> breaks;
    if (kept.empty()) {
        return breaks;
    }
    for (int k = 1; k < kClasses; ++k) {
        breaks.push_back(quantile(kept, static_cast<double>(k) / kClasses));
    }
    return breaks;
}

std::uint8_t classOf(double v, const std::vector<double>& breaks) {
    return static_cast<std::uint8_t>(std::upper_bound(breaks.begin(), breaks.end(), v) -
                                     breaks.begin());
}

// The yield histogram's bins, from zero (or the lowest value) to the 99.5th percentile of a
// sample of the finite yields: a few spikes would squash the rest; values beyond land in the
// last bin.
struct Histogram {
    explicit Histogram(std::vector<double>& sample) {
        if (sample.empty()) {
            return;
        }
        lo = std::min(0.0, quantile(sample, 0.0));
        hi = quantile(sample, 0.995) * 1.05;
        if (!(hi > lo)) {
            hi = lo + 1.0;
        }
        width = (hi - lo) / kHistogramBins;
        kept.assign(kHistogramBins, 0);
        removed.assign(kHistogramBins, 0);
    }
    void add(double v, bool isKept) {
        if (kept.empty() || !std::isfinite(v)) {
            return;
        }
        // Written so that an infinite or NaN quotient (values near the double range) lands in
        // a bin instead of reaching the integer conversion.
        const double f = (v - lo) / width;
        const auto b = f >= kHistogramBins - 1 ? std::size_t{kHistogramBins - 1}
                       : f >= 0.0              ? static_cast<std::size_t>(f)
                                               : std::size_t{0};
        ++(isKept ? kept : removed)[b];
    }
    double lo = 0.0, hi = 0.0, width = 0.0;
    std::vector<std::size_t> kept, removed;  // empty without finite yields
};

std::string histogram(const Histogram& h, const std::vector<double>& breaks) {
    if (h.kept.empty()) {
        return "<p class=\"sub\">No finite yields.</p>";
    }
    const double lo = h.lo, hi = h.hi, width = h.width;
    const std::vector<std::size_t>&kept = h.kept, &removed = h.removed;
    std::size_t top = 1;
    for (int b = 0; b < kHistogramBins; ++b) {
        top =
            std::max(top, kept[static_cast<std::size_t>(b)] + removed[static_cast<std::size_t>(b)]);
    }
    constexpr double W = 420, H = 170, left = 40, bottom = 24, plotW = W - left - 8,
                     plotH = H - bottom - 8;
    std::string svg =
        "<svg class=\"hist\" viewBox=\"0 0 420 170\" role=\"img\" "
        "aria-label=\"Yield histogram\">";
    const double bw = plotW / kHistogramBins;
    for (int b = 0; b < kHistogramBins; ++b) {
        const auto ub = static_cast<std::size_t>(b);
        const double x = left + bw * b;
        const double hk = plotH * static_cast<double>(kept[ub]) / static_cast<double>(top);
        const double hr = plotH * static_cast<double>(removed[ub]) / static_cast<double>(top);
        const double centre = lo + width * (b + 0.5);
        const char* colour = breaks.empty() ? "#7a8a99" : kClassColours[classOf(centre, breaks)];
        svg += "<rect x=\"" + fixedNumber(x + 0.5, 1) + "\" y=\"" + fixedNumber(8 + plotH - hk, 1) +
               "\" width=\"" + fixedNumber(bw - 1, 1) + "\" height=\"" + fixedNumber(hk, 1) +
               "\" fill=\"" + colour + "\" stroke=\"#0003\" stroke-width=\".5\"/>";
        if (hr > 0) {
            svg += "<rect x=\"" + fixedNumber(x + 0.5, 1) + "\" y=\"" +
                   fixedNumber(8 + plotH - hk - hr, 1) + "\" width=\"" + fixedNumber(bw - 1, 1) +
                   "\" height=\"" + fixedNumber(hr, 1) + "\" fill=\"#555\" fill-opacity=\".55\"/>";
        }
    }
    svg += "<line x1=\"40\" y1=\"138\" x2=\"412\" y2=\"138\" stroke=\"#999\"/>";
    for (int t = 0; t <= 4; ++t) {
        const double x = left + plotW * t / 4;
        const char* anchor = t == 0 ? "start" : t == 4 ? "end" : "middle";
        svg += "<text x=\"" + fixedNumber(x, 1) + "\" y=\"152\" text-anchor=\"" + anchor + "\">" +
               plainNumber(lo + (hi - lo) * t / 4, 0) + "</text>";
    }
    svg += "<text x=\"226\" y=\"166\" text-anchor=\"middle\">yield, bu</text>";
    // The tallest bar's count; in thousands from 100,000 on, so that it fits left of the axis.
    const std::string topText =
        top >= 100000 ? std::to_string((top + 500) / 1000) + "k" : std::to_string(top);
    svg += "<text x=\"36\" y=\"14\" text-anchor=\"end\">" + topText + "</text>";
    svg += "<text x=\"36\" y=\"140\" text-anchor=\"end\">0</text>";
    svg += "</svg>";
    return svg;
}

std::string statsRow(const char* name, double before, double after, int decimals) {
    return std::string("<tr><td>") + name + "</td><td>" + cell(before, decimals) + "</td><td>" +
           cell(after, decimals) + "</td></tr>";
}

}  // namespace

std::string htmlEscape(std::string_view text) {
    return escape(text, Escape::Html);
}

std::string jsonString(std::string_view text) {
    return escape(text, Escape::JsonInScript);
}

std::string jsonNumber(double v, int decimals) {
    const std::string s = plainNumber(v, decimals);
    return s.empty() ? "null" : s;
}

HtmlReport::HtmlReport(std::ostream& out, std::string_view title) : out_(out) {
    out_ << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>"
         << htmlEscape(title) << "</title>\n"
         << kStyle << "</head>\n<body>\n<header><h1>" << htmlEscape(title)
         << "</h1><nav id=\"nav\"></nav></header>\n<script>window.VK_LOGS=[];</script>\n";
}

void HtmlReport::addField(const FieldSummary& summary, std::span<const YieldPoint> points,
                          const CleaningResult& result) {
    addSection(section(std::to_string(++count_), summary, points, result));
}

void HtmlReport::addSection(std::string_view text) {
    out_ << text;
}

std::string HtmlReport::section(std::string_view id, const FieldSummary& summary,
                                std::span<const YieldPoint> points, const CleaningResult& result) {
    const std::string sid = htmlEscape(id);
    const std::size_t n = points.size();
    auto isKept = [&](std::size_t i) { return result.flags[i] == 0; };

    // Three passes over the points: counts (and what each point is), samples, then the extent
    // and the histogram.
    constexpr std::uint8_t kFinite = 1, kKept = 2, kValid = 4;
    std::vector<std::uint8_t> kind(n);
    std::size_t keptFinite = 0, keptValid = 0, valid = 0, finite = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const bool f = std::isfinite(points[i].yield), k = isKept(i);
        const bool v = validPosition(points[i]);
        kind[i] = static_cast<std::uint8_t>((f ? kFinite : 0) | (k ? kKept : 0) | (v ? kValid : 0));
        finite += f ? 1u : 0u;
        keptFinite += k && f ? 1u : 0u;
        valid += v ? 1u : 0u;
        keptValid += k && v ? 1u : 0u;
    }
    // The map's points: projected around the kept points, quantised to 16 bits over the kept
    // points' extent; removed points outside it (GPS jumps) are left off.
    const bool anyKept = keptValid > 0;
    const std::uint8_t extent = anyKept ? kValid | kKept : kValid;
    auto inExtent = [&](std::size_t i) { return (kind[i] & extent) == extent; };
    struct Sampler {
        std::vector<double> values;
        std::size_t stride, seen = 0, next = 0;
        explicit Sampler(std::size_t count)
            : stride(count > kStatisticsSample ? count / kStatisticsSample + 1 : 1) {
            values.reserve(count / stride + 1);
        }
        bool take(bool keep) {
            if (!keep) {
                return false;
            }
            const bool taken = seen++ == next;
            next += taken ? stride : 0;
            return taken;
        }
    };
    Sampler keptYields(keptFinite), yields(finite), lons(anyKept ? keptValid : valid);
    std::vector<double> lats;
    lats.reserve(lons.values.capacity());
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t k = kind[i];
        if (keptYields.take((k & (kFinite | kKept)) == (kFinite | kKept))) {
            keptYields.values.push_back(points[i].yield);
        }
        if (yields.take((k & kFinite) != 0)) {
            yields.values.push_back(points[i].yield);
        }
        if (lons.take((k & extent) == extent)) {
            lons.values.push_back(points[i].longitude);
            lats.push_back(points[i].latitude);
        }
    }
    const std::vector<double> breaks = classBreaks(keptYields.values);
    Histogram hist(yields.values);
    LocalProjection proj;
    if (!lons.values.empty()) {
        const double anchor = lons.values.front();
        for (double& l : lons.values) {
            l = wrapLongitude(l - anchor);
        }
        proj = LocalProjection(anchor + median(lons.values), median(lats));
    }
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (std::size_t i = 0; i < n; ++i) {
        if ((kind[i] & kFinite) != 0) {
            hist.add(points[i].yield, (kind[i] & kKept) != 0);
        }
        if (inExtent(i)) {
            const double x = proj.x(points[i].longitude), y = proj.y(points[i].latitude);
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    if (minX > maxX) {
        minX = maxX = minY = maxY = 0.0;
    }
    // A margin for the removed points around the field: headland turns, pass ends.
    const double margin = std::max({0.05 * (maxX - minX), 0.05 * (maxY - minY), 15.0});
    minX -= margin;
    maxX += margin;
    minY -= margin;
    maxY += margin;
    const double w = maxX - minX, h = maxY - minY;
    const std::size_t stride =
        points.size() > kMaxMapPoints ? (points.size() + kMaxMapPoints - 1) / kMaxMapPoints : 1;
    std::vector<std::uint8_t> data;
    data.reserve(points.size() / stride * 5 + 5);
    std::size_t offMap = 0;
    for (std::size_t i = 0; i < points.size(); i += stride) {
        if ((kind[i] & kValid) == 0) {
            continue;
        }
        const double x = proj.x(points[i].longitude) - minX;
        const double y = proj.y(points[i].latitude) - minY;
        if (!(x >= 0.0 && x <= w && y >= 0.0 && y <= h)) {
            ++offMap;
            continue;
        }
        const std::uint16_t qx = w > 0 ? roundUnit(x / w) : 0;
        const std::uint16_t qy = h > 0 ? roundUnit(y / h) : 0;
        std::uint8_t cls = kRemovedClass;
        if (result.flags[i] == 0) {
            cls = std::isfinite(points[i].yield) && !breaks.empty()
                      ? classOf(points[i].yield, breaks)
                      : std::uint8_t{0};
        }
        data.insert(
            data.end(),
            {static_cast<std::uint8_t>(qx & 0xFF), static_cast<std::uint8_t>(qx >> 8),
             static_cast<std::uint8_t>(qy & 0xFF), static_cast<std::uint8_t>(qy >> 8), cls});
    }
    // Dot size: about the spacing of the points, from the extent and their number.
    const double area = std::max(w * h, 1.0);
    const double dot =
        0.85 * std::sqrt(area / static_cast<double>(std::max<std::size_t>(1, data.size() / 5)));

    std::string s;
    s.reserve(data.size() * 4 / 3 + 20000);
    s += "<section class=\"log\" id=\"log-" + sid + "\">\n<h2>" + htmlEscape(summary.setName) +
         "</h2>\n<p class=\"sub\">" + std::to_string(summary.points) + " points, " +
         std::to_string(summary.kept) + " kept, " + std::to_string(summary.points - summary.kept) +
         " removed";
    if (stride > 1) {
        s += "; the map shows every " + std::to_string(stride) + "th point";
    }
    if (offMap > 0) {
        s += "; " + std::to_string(offMap) + " removed points lie off the map";
    }
    s += "</p>\n";
    if (!summary.note.empty()) {
        s += "<p class=\"note\">Not cleaned: " + htmlEscape(summary.note) +
             ". All points are kept.</p>\n";
    }
    for (const std::string& warning : result.warnings) {
        s += "<p class=\"note\">" + htmlEscape(warning) + "</p>\n";
    }
    s +=
        "<div class=\"grid\">\n<div><div class=\"mapbox\"><canvas id=\"map-" + sid +
        "\" aria-label=\"Yield map\"></canvas></div>\n<div class=\"legend\"><span>Yield_bu:</span>";
    for (std::size_t k = 0; k <= breaks.size() && !breaks.empty(); ++k) {
        const std::string from = k == 0 ? "&lt; " : plainNumber(breaks[k - 1], 1);
        const std::string to = k == breaks.size() ? "" : plainNumber(breaks[k], 1);
        s += "<span><i style=\"background:" + std::string(kClassColours[k]) + "\"></i>" +
             (k == 0               ? from + to
              : k == breaks.size() ? "&ge; " + from
                                   : from + "&ndash;" + to) +
             "</span>";
    }
    s += "<label><input type=\"checkbox\" id=\"rm-" + sid +
         "\" checked><i style=\"background:#222\"></i>removed</label></div></div>\n<div>\n";
    // Summary table.
    s += "<h3>Summary</h3><table class=\"summary\"><thead><tr><th>Yield_bu</th><th>before "
         "cleaning</th><th>after</th></tr></thead><tbody>";
    s += "<tr><td>points</td><td>" + std::to_string(summary.before.count) + "</td><td>" +
         std::to_string(summary.after.count) + "</td></tr>";
    s += statsRow("mean", summary.before.mean, summary.after.mean, 1);
    s += statsRow("median", summary.before.median, summary.after.median, 1);
    s += statsRow("minimum", summary.before.min, summary.after.min, 1);
    s += statsRow("maximum", summary.before.max, summary.after.max, 1);
    s += statsRow("CV, %", summary.before.cv, summary.after.cv, 1);
    s += "<tr><td>moisture, % (mean, kept)</td><td></td><td>" + cell(summary.meanMoisture, 1) +
         "</td></tr><tr><td>speed, mph (median, kept)</td><td></td><td>" +
         cell(summary.medianSpeed, 1) + "</td></tr>";
    s += "<tr><td>extent W&ndash;E</td><td colspan=\"2\">" + cell(summary.box.west, 6) +
         " &ndash; " + cell(summary.box.east, 6) + "</td></tr><tr><td>extent S&ndash;N</td>" +
         "<td colspan=\"2\">" + cell(summary.box.south, 6) + " &ndash; " +
         cell(summary.box.north, 6) + "</td></tr>";
    s += "</tbody></table>\n<h3>Yield distribution</h3>" + histogram(hist, breaks) +
         "<div class=\"legend\"><span><i style=\"background:#1a9850\"></i>kept (by class)</span>"
         "<span><i style=\"background:#555;opacity:.55\"></i>removed</span></div>\n</div>\n"
         "</div>\n";
    // Filters and thresholds.
    s += "<h3>Filters</h3><table class=\"filters\"><thead><tr><th>Code</th><th>Filter</th>"
         "<th>Removed</th><th>Threshold used</th><th>Why</th></tr></thead><tbody>";
    for (const FilterInfo& f : kFilterInfo) {
        std::string thresholds;
        for (const ThresholdUsed& t : summary.thresholds) {
            if (t.info->filter == f.filter) {
                thresholds += (thresholds.empty() ? "" : "<br>") + htmlEscape(t.info->name) + " " +
                              plainNumber(t.value, 3) + " " + htmlEscape(t.info->unit) +
                              (t.automatic ? " (auto)" : " (set)");
            }
        }
        s += "<tr><td><code>" + std::string(f.code) + "</code></td><td>" + htmlEscape(f.name) +
             "</td><td>" + std::to_string(summary.removedBy[static_cast<std::size_t>(f.filter)]) +
             "</td><td>" + (thresholds.empty() ? "&ndash;" : thresholds) + "</td><td>" +
             htmlEscape(f.rationale) + "</td></tr>";
    }
    s += "</tbody></table>\n</section>\n<script>VK_LOGS.push({id:" + jsonString(id) +
         ",name:" + jsonString(summary.setName) + ",w:" + jsonNumber(w, 3) +
         ",h:" + jsonNumber(h, 3) + ",dot:" + jsonNumber(dot, 3) + ",colours:[";
    for (int k = 0; k < kClasses; ++k) {
        s += std::string(k ? "," : "") + "\"" + kClassColours[k] + "\"";
    }
    s += "],breaks:[";
    for (std::size_t k = 0; k < breaks.size(); ++k) {
        s += (k ? "," : "") + jsonNumber(breaks[k], 3);
    }
    s += "],pts:\"";
    appendBase64(s, data);
    s += "\"});</script>\n";
    return s;
}

void HtmlReport::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    out_ << kScript << "</body>\n</html>\n";
}

}  // namespace vornakite::analysis
