#include "analysis/report_page.hpp"

namespace vornakite::analysis {

const char* const kReportStyle = R"CSS(<style>
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

const char* const kReportScript = R"JS(<script>
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

}  // namespace vornakite::analysis
