vs.1.1
; Matrix-palette skinning, three bones per vertex, with the toon ramp coordinate
; and linear fog.
;   v0 position (w = 1), v1 first blend weight (one float; the declaration
;   leaves y and z at 0), v2 palette index bytes, v3 normal, v5 colour,
;   v7 mesh texture coordinates (v8 is declared but not read)
;   c0     (1.0, 0.5, 0.0, 765.01)
;   c1     light direction, unit length
;   c2-c5  transposed projection
;   c7     fog: (-1 / end, 1, 0, 0)
;   c9-c92 palette of 28 slots: slot s is c[9 + 3s]..c[11 + 3s], the first
;          three rows of the transposed bone x view matrix
;
; The index bytes are declared as a D3DCOLOR, not as UBYTE4, to make up for
; hardware without the unsigned-byte vertex type. A colour arrives as bytes
; 2, 1, 0, 3 in x, y, z, w, each divided by 255: .zyxw puts index bytes 0..3
; back in x..w, and 765.01 / 255 turns each into a little over 3 x index,
; which a0.x floors to the first register of the slot.

; palette offsets, one component per influence
mul r0, v2.zyxw, c0.wwww

; last weight: 1 - (v1.x + v1.y)
dp4 r1.w, v1, c0.xxzz
add r1.w, -r1.w, c0.x

; influence 1
mov a0.x, r0.x
dp4 r2.x, v0, c[a0.x + 9]
dp4 r2.y, v0, c[a0.x + 10]
dp4 r2.z, v0, c[a0.x + 11]
dp3 r3.x, v3, c[a0.x + 9]
dp3 r3.y, v3, c[a0.x + 10]
dp3 r3.z, v3, c[a0.x + 11]
mul r4.xyz, r2, v1.x
mul r5.xyz, r3, v1.x

; influence 2
mov a0.x, r0.y
dp4 r2.x, v0, c[a0.x + 9]
dp4 r2.y, v0, c[a0.x + 10]
dp4 r2.z, v0, c[a0.x + 11]
dp3 r3.x, v3, c[a0.x + 9]
dp3 r3.y, v3, c[a0.x + 10]
dp3 r3.z, v3, c[a0.x + 11]
mad r4.xyz, r2, v1.y, r4
mad r5.xyz, r3, v1.y, r5

; influence 3
mov a0.x, r0.z
dp4 r2.x, v0, c[a0.x + 9]
dp4 r2.y, v0, c[a0.x + 10]
dp4 r2.z, v0, c[a0.x + 11]
dp3 r3.x, v3, c[a0.x + 9]
dp3 r3.y, v3, c[a0.x + 10]
dp3 r3.z, v3, c[a0.x + 11]
mad r4.xyz, r2, r1.w, r4
mad r5.xyz, r3, r1.w, r5

; clip-space position from the camera-space one
mov r4.w, c0.x
dp4 oPos.x, r4, c2
dp4 oPos.y, r4, c3
dp4 oPos.z, r4, c4
dp4 oPos.w, r4, c5

; unit normal
dp3 r5.w, r5, r5
rsq r5.w, r5.w
mul r5.xyz, r5, r5.w

; ramp coordinate u = (n.l + 1) / 2
dp3 r6.x, r5, c1
add r6.x, r6.x, c0.x
mul oT0.x, r6.x, c0.y

; mesh texture coordinates and vertex colour
mov oT1, v7
mov oD0, v5

; linear fog from the depth that the last bone alone gives the vertex
mad oFog.x, r2.z, c7.x, c7.y
