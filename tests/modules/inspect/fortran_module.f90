! A Fortran module: its entry point is the gateway subroutine, which the compiler exports in
! lower case with a trailing underscore. WITH_VF adds the version function (R2024b, interface
! 0x08000000), the preprocessor deciding.
subroutine orbfunction(nlhs, plhs, nrhs, prhs)
    integer :: nlhs, nrhs
    integer(8) :: plhs(*), prhs(*)
    if (nlhs > 0 .and. nrhs > 0) plhs(1) = prhs(1)
end subroutine orbfunction

#ifdef WITH_VF
subroutine orbfilerequiredapiversion(relnum, apinum)
    integer(4) :: relnum, apinum
    relnum = 131659  ! 0x2024B, R2024b
    apinum = 134217728
end subroutine orbfilerequiredapiversion
#endif
