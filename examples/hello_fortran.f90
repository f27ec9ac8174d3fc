! hello_fortran.f90: y = hello_fortran(x) greets the command window of the host and answers 2*x for a
! real numeric scalar x. Anything else raises hello_fortran:nargin or hello_fortran:notScalar.
!
! Built with nothing but a Fortran compiler against the staged installation root ROOT (-cpp runs
! the preprocessor for the SDK includes; with -Wextra, add -Wno-unused-parameter, since the
! includes declare named constants that a module need not use):
!   gfortran -cpp -shared -fPIC -fexceptions -I"$ROOT/include" hello_fortran.f90 \
!            -L"$ROOT/lib" -lorb -lvhost -o hello_fortran.orbw64
! and called with: orb run hello_fortran.orbw64 21
subroutine orbfunction(nlhs, plhs, nrhs, prhs)
  implicit none
#include "orb.fi"
  integer(ORB_COUNT_KIND), intent(in) :: nlhs, nrhs
  integer(8) :: plhs(*), prhs(*)
  integer(4) :: printed
  character(len=64) :: name

  if (nrhs /= 1 .or. nlhs > 1) then
    call orberrmsgidandtxt('hello_fortran:nargin', 'hello_fortran takes one input and gives one output.')
  end if
  if (.not. ryisnumeric(prhs(1))) call notScalar()
  if (ryiscomplex(prhs(1))) call notScalar()
  if (rygetnumberofelements(prhs(1)) /= 1) call notScalar()

  name = orbfunctionname()
  printed = orbprintf('Hello from Fortran, called as ' // trim(name) // '.' // achar(10))
  plhs(1) = rycreatedoublescalar(2d0 * rygetscalar(prhs(1)))

contains

  subroutine notScalar()
    call orberrmsgidandtxt('hello_fortran:notScalar', 'The input must be a real numeric scalar.')
  end subroutine notScalar
end subroutine orbfunction

#include "orb_version.fi"
