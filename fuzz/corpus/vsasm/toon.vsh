vs.1.0
; Toon shading for static meshes.
;   v0 position, v3 normal, v5 colour, v8 mesh texture coordinates
;   c0-c3  transposed world x view x projection
;   c4-c7  transposed world x view (c6: depth in camera space)
;   c12    (0, 0.5, 1, -1)
;   c13    light direction in model space, unit length
;   c14    fog: (-1 / end, end / end, 0, 0)

; clip-space position
dp4 oPos.x, v0, c0
dp4 oPos.y, v0, c1
dp4 oPos.z, v0, c2
dp4 oPos.w, v0, c3

; unit normal
dp3 r0.w, v3, v3
rsq r0.w, r0.w
mul r0.xyz, v3, r0.w

; ramp coordinate u = (n.l + 1) / 2
dp3 r1.x, r0, c13
add r1.x, r1.x, c12.z
mul oT0.x, r1.x, c12.y

; mesh texture coordinates and vertex colour
mov oT1, v8
mov oD0, v5

; linear fog from the camera-space depth
dp4 r2.x, v0, c6
mad oFog.x, r2.x, c14.x, c14.y
