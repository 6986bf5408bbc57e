vs.1.1
def c90, 1.0, -2.5, 0.0, 3.0e2
dcl_position v0
mov r0, v0
add r1, r0, c0
sub r2, r1, -c1.yxwz
mad r3, r2, c2, r1
mul r4.xy, r3, c3.xxxx
rcp r5.x, r4.x
rsq r5.y, r4.y
dp3 r6.x, r0, c4
dp4 r6.y, r0, c5
min r7, r0, c6
max r8, r0, c7
slt r9, r0, c8
sge r10, r0, c9
exp r11, r0.x
log r0, r1.y
lit r1, r2
dst r2, r3, r4
frc r3.xy, r5
expp r4, r6.x
logp r5, r7.w
m4x4 oPos, v0, c10
m4x3 r6.xyz, v0, c14
m3x4 r7, v0, c17
m3x3 r8.xyz, v3, c21
m3x2 r9.xy, v3, c24
mov a0.x, r0.x
mov oD0, c[a0.x + 30]
mov oD1, r9
mov oT0, v7
mov oT7.xy, v8
mov oFog.x, r1.x
mov oPts.x, c0.w
nop
