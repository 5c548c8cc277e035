#include "analysis/report_page.hpp"

namespace vornakite::analysis {

const char* const kReportStyle = R"CSS(<style>
:root{--ink:#1d2327;--muted:#5f6b73;--line:#d8dde1;--panel:#f6f7f8}
*{box-sizing:border-box}
body{margin:0;font:14px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,Arial,sans-serif;color:var(--ink);background:#fff}
header{padding:10px 20px;border-bottom:1px solid var(--line);display:flex;gap:16px;align-items:baseline;flex-wrap:wrap}
header h1{font-size:18px;margin:0}header nav a{margin-right:10px;color:#1f5f99}
header label.common{font-size:13px;color:var(--muted);cursor:pointer}
.units{margin:6px 20px 0;font-size:12px;color:var(--muted)}
section.log{padding:12px 20px 20px;border-bottom:1px solid var(--line);content-visibility:auto;contain-intrinsic-size:auto 1100px}
section.log h2{font-size:17px;margin:0 0 2px;overflow-wrap:anywhere}section.log h2 .logs{font-weight:400;color:var(--muted);font-size:14px}
.sub{color:var(--muted);margin:0 0 8px;overflow-wrap:anywhere}.note{background:#fff4d6;border:1px solid #e8c55a;padding:6px 10px;margin:6px 0;overflow-wrap:anywhere}
.grid{display:grid;grid-template-columns:minmax(0,1.6fr) minmax(300px,1fr);gap:16px;align-items:start}
.grid>div{min-width:0}
@media (max-width:900px){.grid{grid-template-columns:1fr}}
.mapbox{position:relative;border:1px solid var(--line);background:#fbfbf9;overflow:hidden}
.mapbox canvas{display:block;width:100%;touch-action:none;cursor:grab}
.mapbox .reset{position:absolute;left:8px;top:8px;font-size:14px;line-height:1;padding:3px 6px;border:1px solid var(--line);background:#fffd;border-radius:3px;cursor:pointer}
.tip{position:absolute;z-index:2;pointer-events:none;background:#fff;border:1px solid #8895;box-shadow:0 1px 4px #0003;padding:5px 8px;font-size:12px;max-width:280px;overflow-wrap:anywhere;white-space:normal}
.tip b{font-weight:600}
.legend{display:flex;flex-wrap:wrap;gap:4px 12px;margin:6px 0 0;font-size:12px;color:var(--muted)}
.legend b{font-weight:400}
.legend i{display:inline-block;width:12px;height:12px;margin-right:4px;vertical-align:-2px;border:1px solid #0002}
.legend label{cursor:pointer}
table{border-collapse:collapse;width:100%;font-size:13px;table-layout:auto}
th,td{padding:3px 6px;border-bottom:1px solid var(--line);text-align:right;white-space:nowrap;max-width:16em;overflow:hidden;text-overflow:ellipsis}
th:first-child,td:first-child{text-align:left}
thead th{background:var(--panel);font-weight:600}
.numbers td:last-child{white-space:normal;overflow-wrap:anywhere}
.filters th,.filters td{text-align:left}.filters td:nth-child(3),.filters th:nth-child(3){text-align:right}
.filters td:last-child{white-space:normal;color:var(--muted);font-size:12px}
.filters td:nth-child(4){white-space:normal;overflow-wrap:anywhere}
h3{font-size:13px;margin:12px 0 4px;color:var(--muted);text-transform:uppercase;letter-spacing:.04em}
svg.hist{width:100%;height:auto;display:block}
svg.hist text{font-size:10px;fill:var(--muted)}
code{font-size:12px}
</style>
)CSS";

// The maps: each section's data is decoded and its map drawn only once it comes into view;
// a resize redraws the maps in view. Zoom with the wheel or two fingers, pan by dragging,
// point at or tap a dot for its values.
const char* const kReportScript = R"JS(<script>
(function(){
"use strict";
document.body.setAttribute("data-maps-drawn","0");
var logs=window.VK_LOGS||[],R=window.VK_REASONS||[],drawn=0,useCommon=false,common=null;
function rgba(h){var v=parseInt(h.slice(1),16);return (255<<24|(v&255)<<16|(v>>8&255)<<8|v>>16)>>>0;}
var CL=(window.VK_CLASSES||[]).map(rgba),RC=R.map(function(r){return rgba(r.colour);}),NOV=rgba(window.VK_NOVALUE||"#00e5ff");
var COLS=[["Yield_bu","bu/ac"],["Moist_pct","%"],["Weight_ta","t/ac, as logged"],["Dens_lbbu","lb/bu"],["Speed_MPH","mph"]];
function bytes(b64){var s=atob(b64),a=new Uint8Array(s.length);for(var i=0;i<s.length;i++)a[i]=s.charCodeAt(i);return a;}
function varints(b64,n){var a=bytes(b64),out=[],p=0;while(p<a.length&&(n<0||out.length<n)){var v=0,m=1,b;do{b=a[p++];v+=(b&127)*m;m*=128;}while(b&128&&p<a.length);out.push(v);}return out;}
function nice(m){var p=Math.pow(10,Math.floor(Math.log10(m))),f=m/p;return (f>=5?5:f>=2?2:1)*p;}
function fmt(v){return (Math.round(v*10)/10).toString();}
function decode(L){
  var n=L.n,a=bytes(L.xy),X=new Uint16Array(n),Y=new Uint16Array(n),i;
  for(i=0;i<n;i++){X[i]=a[4*i]|a[4*i+1]<<8;Y[i]=a[4*i+2]|a[4*i+3]<<8;}
  var idx=null;if(L.ix){var d=varints(L.ix,n),s=0;idx=new Float64Array(n);for(i=0;i<n;i++){s+=d[i];idx[i]=s;}}
  var cols=L.cols.map(function(c){var v=new Float64Array(n),sc=Math.pow(10,c.d);if(c.c!==undefined){v.fill(c.c/sc);return v;}
    var z=varints(c.b,n),q=0;for(var i=0;i<n;i++){var t=z[i];q+=t%2?-(t+1)/2:t/2;v[i]=q/sc;}return v;});
  L.exc.forEach(function(e){cols[e[1]][e[0]]=Number(e[2]);});
  var mask=new Uint16Array(n),first=new Int8Array(n),rm=varints(L.rm,-1),k=0;
  for(i=0;i+1<rm.length;i+=2){k+=rm[i];var m=rm[i+1],f=0;mask[k]=m;while(!(m&1)&&f<15){m>>=1;f++;}first[k]=f;}
  // A 64 x 64 grid of buckets over the quantised positions, for finding the point under the cursor.
  var start=new Int32Array(4097),order=new Int32Array(n),cell=new Int32Array(n);
  for(i=0;i<n;i++){cell[i]=(Y[i]>>10)*64+(X[i]>>10);start[cell[i]+1]++;}
  for(i=0;i<4096;i++)start[i+1]+=start[i];
  var fill=start.slice(0,4096);for(i=0;i<n;i++)order[fill[cell[i]]++]=i;
  L.d={X:X,Y:Y,idx:idx,cols:cols,mask:mask,first:first,start:start,order:order,cls:new Uint8Array(n)};
  classify(L);
}
function breaksOf(L){if(useCommon&&!common)common=commonBreaks();return useCommon&&common?common:L.breaks;}
// Kept points by their yield's class (255: no finite yield); removed points are drawn by reason.
function classify(L){
  var d=L.d;if(!d)return;var b=breaksOf(L),y=d.cols[0],n=L.n;
  for(var i=0;i<n;i++){if(d.mask[i]){d.cls[i]=254;continue;}var v=y[i];if(!isFinite(v)||!b.length){d.cls[i]=b.length?255:0;continue;}
    var c=0;while(c<b.length&&b[c]<=v)c++;d.cls[i]=c;}
}
function legend(L){
  var b=breaksOf(L),r=L.sec.querySelectorAll(".range");
  for(var k=0;k<r.length&&b.length;k++)r[k].textContent=k===0?"< "+fmt(b[0]):k===b.length?"\u2265 "+fmt(b[k-1]):fmt(b[k-1])+"\u2013"+fmt(b[k]);
}
function visible(L,i){var d=L.d;return d.mask[i]?L.showRemoved&&L.reasonOn[d.first[i]]:!L.showGrid;}
function colourOf(L,i){var c=L.d.cls[i];return c===254?RC[L.d.first[i]]:c===255?NOV:CL[c];}
function gridImage(L){
  var g=L.grid,b=breaksOf(L);if(L.gimg&&L.gimgB===b)return L.gimg;
  var q=bytes(g.b),cv=document.createElement("canvas");cv.width=g.c;cv.height=g.r;
  var c=cv.getContext("2d"),img=c.createImageData(g.c,g.r),px=new Uint32Array(img.data.buffer);
  for(var r=0;r<g.r;r++)for(var k=0;k<g.c;k++){var v=q[r*g.c+k];if(v===255)continue;var y=g.lo+(g.hi-g.lo)*v/254,cl=0;while(cl<b.length&&b[cl]<=y)cl++;px[(g.r-1-r)*g.c+k]=CL[cl];}
  c.putImageData(img,0,0);L.gimg=cv;L.gimgB=b;return cv;
}
function draw(L){
  var t0=performance.now(),cv=L.cv;if(!L.d)decode(L);
  var box=cv.parentElement,w=box.clientWidth,maxH=Math.max(260,window.innerHeight*0.72);
  var ew=Math.max(L.w,1e-9),eh=Math.max(L.h,1e-9),pad=14;
  var sc0=Math.min((w-2*pad)/ew,(maxH-2*pad)/eh);if(!(sc0>0)||!isFinite(sc0))sc0=1;
  var h=Math.max(200,Math.ceil(eh*sc0+2*pad)),V=L.v,sc=sc0*V.k;
  L.sc=sc;L.cw=w;L.ch=h;
  var dpr=window.devicePixelRatio||1;cv.width=Math.round(w*dpr);cv.height=Math.round(h*dpr);cv.style.height=h+"px";
  var c=cv.getContext("2d");c.setTransform(dpr,0,0,dpr,0,0);c.fillStyle="#fbfbf9";c.fillRect(0,0,w,h);
  var ox=w/2-V.cx*sc,oy=h/2+V.cy*sc;
  if(L.showGrid&&L.grid){var g=L.grid;c.imageSmoothingEnabled=false;c.drawImage(gridImage(L),ox,oy-g.r*g.cell*sc,g.c*g.cell*sc,g.r*g.cell*sc);}
  var d=L.d,n=L.n,X=d.X,Y=d.Y,qx=ew/65535*sc,qy=eh/65535*sc,r=Math.min(Math.max(1.6,L.dot*sc),6*Math.sqrt(V.k));L.r=r;
  // Points straight into the pixels, one square each: kept points, then the removed on top.
  var W=cv.width,H=cv.height,img=c.getImageData(0,0,W,H),px32=new Uint32Array(img.data.buffer);
  var s0=Math.max(1,Math.round(r*dpr)),s1=Math.max(1,Math.round(Math.max(1.4,r*0.7)*dpr));
  for(var pass=0;pass<2;pass++){var s=pass?s1:s0;
    for(var i=0;i<n;i++){if((d.mask[i]!==0)!==(pass===1)||!visible(L,i))continue;
      var x=Math.round((ox+X[i]*qx)*dpr-s/2),y=Math.round((oy-Y[i]*qy)*dpr-s/2);
      if(x>=W||y>=H||x+s<=0||y+s<=0)continue;
      var col=colourOf(L,i),x0=Math.max(0,x),x1=Math.min(W,x+s),y0=Math.max(0,y),y1=Math.min(H,y+s);
      for(var yy=y0;yy<y1;yy++){var row=yy*W;for(var xx=x0;xx<x1;xx++)px32[row+xx]=col;}}}
  c.putImageData(img,0,0);
  // Scale bar, bottom left; north arrow, top right.
  var m=nice(Math.max(w*0.22/sc,1e-3)),bl=m*sc,bx=16,by=h-18;
  c.fillStyle="rgba(255,255,255,.85)";c.fillRect(bx-6,by-20,bl+60,28);
  c.fillStyle="#1d2327";c.fillRect(bx,by,bl,3);c.fillRect(bx,by-5,2,8);c.fillRect(bx+bl-2,by-5,2,8);
  c.font="12px system-ui,sans-serif";c.fillText((m>=1000?m/1000+" km":m>=1?m+" m":Math.round(m*100)+" cm"),bx,by-8);
  var nx=w-24,ny=16;c.beginPath();c.moveTo(nx,ny);c.lineTo(nx-7,ny+18);c.lineTo(nx,ny+13);c.lineTo(nx+7,ny+18);c.closePath();c.fill();
  c.textAlign="center";c.fillText("N",nx,ny+32);c.textAlign="start";
  if(!L.drawn){L.drawn=true;drawn++;document.body.setAttribute("data-maps-drawn",String(drawn));}
  cv.setAttribute("data-zoom",V.k.toFixed(3));
  document.body.setAttribute("data-draw-ms",String(Math.round(performance.now()-t0)));
}
function redraw(L){if(L.pending)return;L.pending=true;requestAnimationFrame(function(){L.pending=false;safe(function(){draw(L);});});}
function safe(f){try{f();}catch(e){document.body.setAttribute("data-error",String(e));throw e;}}
// The point under (mx, my), in CSS pixels of the canvas: the nearest drawn within its dot.
function pick(L,mx,my){
  var d=L.d,V=L.v,sc=L.sc,ux=Math.max(L.w,1e-9)/65535,uy=Math.max(L.h,1e-9)/65535;
  var Xm=(mx-L.cw/2)/sc+V.cx,Ym=(L.ch/2-my)/sc+V.cy,rad=(L.r/2+4)/sc;
  var bx0=Math.max(0,Math.floor((Xm-rad)/ux/1024)),bx1=Math.min(63,Math.floor((Xm+rad)/ux/1024));
  var by0=Math.max(0,Math.floor((Ym-rad)/uy/1024)),by1=Math.min(63,Math.floor((Ym+rad)/uy/1024));
  var best=-1,bd=rad*rad;
  for(var by=by0;by<=by1;by++)for(var bx=bx0;bx<=bx1;bx++){var c=by*64+bx;
    for(var j=d.start[c];j<d.start[c+1];j++){var i=d.order[j];if(!visible(L,i))continue;
      var dx=d.X[i]*ux-Xm,dy=d.Y[i]*uy-Ym,dd=dx*dx+dy*dy;if(dd<=bd||(dd===bd&&d.mask[i])){bd=dd;best=i;}}}
  return best;
}
function esc(t){return String(t).replace(/[&<>"]/g,function(c){return {"&":"&amp;","<":"&lt;",">":"&gt;",'"':"&quot;"}[c];});}
function tipText(L,i){
  var d=L.d,g=d.idx?d.idx[i]:i*L.stride,k=0;while(k+1<L.starts.length&&L.starts[k+1]<=g)k++;
  var t="<b>sample "+(g-(L.starts[k]||0)+1)+"</b> (1-based, in its log's order)";
  if(L.logs.length)t+="<br>log: "+esc(L.logs[k]);
  for(var c=0;c<5;c++){var v=d.cols[c][i],dec=L.cols[c].d;t+="<br>"+COLS[c][0]+": "+esc(isFinite(v)&&Math.abs(v)<1e12?v.toFixed(dec):String(v))+" "+COLS[c][1];}
  if(d.mask[i]){t+="<br>removed:";for(var f=0;f<R.length;f++)if(d.mask[i]>>f&1)t+="<br>&nbsp; "+R[f].code+" ("+esc(R[f].name)+")";}
  else if(!isFinite(d.cols[0][i]))t+="<br>no yield value: in no class";
  return t;
}
function showTip(L,mx,my){
  var tip=L.tip,i=pick(L,mx,my);if(i<0){tip.hidden=true;return;}
  tip.innerHTML=tipText(L,i);tip.hidden=false;
  var x=mx+14,y=my+14;if(x+tip.offsetWidth>L.cw)x=Math.max(0,mx-14-tip.offsetWidth);if(y+tip.offsetHeight>L.ch)y=Math.max(0,my-14-tip.offsetHeight);
  tip.style.left=x+"px";tip.style.top=y+"px";
}
function zoomAt(L,mx,my,f){
  var V=L.v,k=Math.min(4000,Math.max(0.5,V.k*f));f=k/V.k;var sc=L.sc;
  var Xm=(mx-L.cw/2)/sc+V.cx,Ym=(L.ch/2-my)/sc+V.cy;
  V.cx=Xm-(Xm-V.cx)/f;V.cy=Ym-(Ym-V.cy)/f;V.k=k;L.sc=sc*f;redraw(L);
}
function pos(L,e){var r=L.cv.getBoundingClientRect();return [e.clientX-r.left,e.clientY-r.top];}
function wire(L){
  var cv=L.cv,P={},moved=0;
  cv.addEventListener("wheel",function(e){if(!L.d)return;e.preventDefault();var p=pos(L,e);zoomAt(L,p[0],p[1],Math.exp(-e.deltaY*(e.deltaMode?0.05:0.002)));L.tip.hidden=true;},{passive:false});
  cv.addEventListener("pointerdown",function(e){P[e.pointerId]=pos(L,e);moved=0;try{cv.setPointerCapture(e.pointerId);}catch(x){}});
  cv.addEventListener("pointermove",function(e){
    if(!L.d)return;var p=pos(L,e),ids=Object.keys(P);
    if(!ids.length){if(e.pointerType==="mouse")showTip(L,p[0],p[1]);return;}
    if(!(e.pointerId in P))return;
    if(ids.length===1){var q=P[e.pointerId];moved+=Math.abs(p[0]-q[0])+Math.abs(p[1]-q[1]);L.v.cx-=(p[0]-q[0])/L.sc;L.v.cy+=(p[1]-q[1])/L.sc;P[e.pointerId]=p;L.tip.hidden=true;redraw(L);return;}
    var o=P[ids[0]===String(e.pointerId)?ids[1]:ids[0]],a=P[e.pointerId];
    var d0=Math.hypot(a[0]-o[0],a[1]-o[1]),d1=Math.hypot(p[0]-o[0],p[1]-o[1]);P[e.pointerId]=p;moved+=10;
    if(d0>0&&d1>0)zoomAt(L,(p[0]+o[0])/2,(p[1]+o[1])/2,d1/d0);
  });
  function up(e){var p=P[e.pointerId];delete P[e.pointerId];if(p&&moved<5&&L.d)showTip(L,p[0],p[1]);}
  cv.addEventListener("pointerup",up);cv.addEventListener("pointercancel",function(e){delete P[e.pointerId];});
  cv.addEventListener("pointerleave",function(e){if(e.pointerType==="mouse"&&!Object.keys(P).length)L.tip.hidden=true;});
  cv.addEventListener("dblclick",function(){L.v={k:1,cx:L.w/2,cy:L.h/2};redraw(L);});
  L.sec.querySelector(".reset").addEventListener("click",function(){L.v={k:1,cx:L.w/2,cy:L.h/2};redraw(L);});
  var rm=document.getElementById("rm-"+L.id);if(rm)rm.addEventListener("change",function(){L.showRemoved=rm.checked;if(L.drawn)redraw(L);});
  L.sec.querySelectorAll(".reason").forEach(function(cb){cb.addEventListener("change",function(){L.reasonOn[+cb.getAttribute("data-r")]=cb.checked?1:0;if(L.drawn)redraw(L);});});
  var layer=L.sec.querySelector(".layer");if(layer)layer.addEventListener("change",function(){L.showGrid=layer.checked;if(L.drawn)redraw(L);});
}
// Classes common to all fields: the 1/7 ... 6/7 quantiles of all sections' kept yields
// together, from the quantiles each section carries, weighted by their counts.
function commonBreaks(){
  var S=logs.filter(function(L){return L.sketch.length>1&&L.nk>0;}),N=0,lo=Infinity,hi=-Infinity;if(!S.length)return null;
  S.forEach(function(L){N+=L.nk;lo=Math.min(lo,L.sketch[0]);hi=Math.max(hi,L.sketch[L.sketch.length-1]);});
  function F(v){var t=0;S.forEach(function(L){var q=L.sketch,m=q.length-1,f;
    if(v<q[0])f=0;else if(v>=q[m])f=1;else{var a=0,b=m;while(b-a>1){var c=(a+b)>>1;if(q[c]<=v)a=c;else b=c;}f=(a+(q[b]>q[a]?(v-q[a])/(q[b]-q[a]):0))/m;}
    t+=f*L.nk;});return t/N;}
  var out=[];for(var k=1;k<7;k++){var a=lo,b=hi;for(var it=0;it<60;it++){var c=(a+b)/2;if(F(c)<k/7)a=c;else b=c;}out.push(b);}
  return out;
}
var nav=document.getElementById("nav"),io=null;
if("IntersectionObserver" in window)io=new IntersectionObserver(function(es){es.forEach(function(e){var L=e.target.vkLog;L.visible=e.isIntersecting;if(e.isIntersecting&&!L.drawn)safe(function(){draw(L);});});},{rootMargin:"200px 0px"});
// Each section's map is taken as its data arrives, so the first maps are drawn while the rest
// of a long page is still loading.
function add(L){
  L.sec=document.getElementById("log-"+L.id);L.cv=document.getElementById("map-"+L.id);
  L.tip=L.sec.querySelector(".tip");L.v={k:1,cx:L.w/2,cy:L.h/2};L.showRemoved=true;L.showGrid=false;
  L.reasonOn=new Uint8Array(16).fill(1);wire(L);common=null;
  var a=document.createElement("a");a.href="#log-"+L.id;a.textContent=L.name;nav.appendChild(a);
  if(io){L.cv.vkLog=L;io.observe(L.cv);}else safe(function(){draw(L);});
  if(useCommon){classify(L);legend(L);}
}
logs.forEach(function(L){safe(function(){add(L);});});
logs.push=function(L){Array.prototype.push.call(logs,L);safe(function(){add(L);});};
window.VK_DONE=function(){document.body.setAttribute("data-page-done","1");};
var cc=document.getElementById("common-classes");
if(cc)cc.addEventListener("change",function(){useCommon=cc.checked;if(useCommon&&!common)common=commonBreaks();
  logs.forEach(function(L){L.gimg=null;});
  logs.forEach(function(L){classify(L);legend(L);if(L.drawn&&L.visible!==false)redraw(L);});
  document.body.setAttribute("data-classes",useCommon&&common?"common":"field");});
var timer=0;window.addEventListener("resize",function(){clearTimeout(timer);timer=setTimeout(function(){logs.forEach(function(L){if(L.drawn&&L.visible!==false)safe(function(){draw(L);});});},120);});
})();
</script>
)JS";

}  // namespace vornakite::analysis
